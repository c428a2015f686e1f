// Carries updates of the window's controls over to the window's thread, in
// the order they were made, whichever thread made them. A window gives the
// queue two things of its system: whether the caller is on the window's
// thread, and a way to have drainTurn() called there soon (a queued call,
// a posted message).
#ifndef MORAVINE_FRONTEND_UPDATE_QUEUE_H_
#define MORAVINE_FRONTEND_UPDATE_QUEUE_H_

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace moravine::frontend {

class UpdateQueue {
 public:
  virtual ~UpdateQueue() = default;

  // Runs the update on the window's thread after every update posted
  // before it. Posted on that thread, it runs before post returns; from any
  // other thread post returns at once and never waits for the window.
  void post(std::function<void()> update);
  // As post, for an update that dropDroppable may take back before it runs
  // (the rows of a search, which Cancel throws away).
  void postDroppable(std::function<void()> update);
  // Forgets the droppable updates that have not run yet; returns how many.
  // The others stay, in their order.
  size_t dropDroppable();
  // Runs every update posted so far; on the window's thread only.
  void drain();
  // Whether updates are waiting to run.
  bool pending() const;

  // Updates from other threads run in turns of about this long, each turn
  // handing back to the event loop (clicks, painting) before the next: a
  // flood of updates never keeps the window from answering.
  void setTurn(std::chrono::milliseconds turn) { turn_ = turn; }

  // One turn; what wake() asks the window's thread to call.
  void drainTurn();

 protected:
  virtual bool onWindowThread() const = 0;
  // From any thread: have drainTurn() called on the window's thread once
  // the event loop runs, without waiting for it.
  virtual void wake() = 0;

 private:
  struct Entry {
    std::function<void()> run;
    bool droppable = false;
  };
  void add(Entry entry);
  // Runs updates until none is left or, with a deadline, until it passes;
  // true when none is left.
  bool run(const std::chrono::steady_clock::time_point* deadline);

  mutable std::mutex mutex_;
  std::deque<Entry> updates_;
  bool scheduled_ = false;  // a turn is on its way to the event loop
  bool draining_ = false;   // touched on the window's thread only
  std::chrono::milliseconds turn_{50};
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_UPDATE_QUEUE_H_
