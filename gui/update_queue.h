// Carries updates of the window's controls over to the window's thread, in
// the order they were made, whichever thread made them.
#ifndef MORAVINE_GUI_UPDATE_QUEUE_H_
#define MORAVINE_GUI_UPDATE_QUEUE_H_

#include <QObject>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace moravine::gui {

class UpdateQueue : public QObject {
 public:
  explicit UpdateQueue(QObject* parent = nullptr) : QObject(parent) {}

  // Runs the update on this object's thread after every update posted
  // before it. Posted on that thread, it runs before post returns; from any
  // other thread post returns at once and never waits for the window.
  void post(std::function<void()> update);
  // As post, for an update that dropDroppable may take back before it runs
  // (the rows of a search, which Cancel throws away).
  void postDroppable(std::function<void()> update);
  // Forgets the droppable updates that have not run yet; returns how many.
  // The others stay, in their order.
  size_t dropDroppable();
  // Runs every update posted so far; on this object's thread only.
  void drain();
  // Whether updates are waiting to run.
  bool pending() const;

  // Updates from other threads run in turns of about this long, each turn
  // handing back to the event loop (clicks, painting) before the next: a
  // flood of updates never keeps the window from answering.
  void setTurn(std::chrono::milliseconds turn) { turn_ = turn; }

 private:
  struct Entry {
    std::function<void()> run;
    bool droppable = false;
  };
  void add(Entry entry);
  // Runs updates until none is left or, with a deadline, until it passes;
  // true when none is left.
  bool run(const std::chrono::steady_clock::time_point* deadline);
  void drainTurn();

  mutable std::mutex mutex_;
  std::deque<Entry> updates_;
  bool scheduled_ = false;  // a turn is on its way to the event loop
  bool draining_ = false;   // touched on this object's thread only
  std::chrono::milliseconds turn_{50};
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_UPDATE_QUEUE_H_
