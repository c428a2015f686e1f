// Carries updates of the window's controls over to the window's thread, in
// the order they were made, whichever thread made them.
#ifndef MORAVINE_GUI_UPDATE_QUEUE_H_
#define MORAVINE_GUI_UPDATE_QUEUE_H_

#include <QObject>

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
  // Runs every update posted so far; on this object's thread only.
  void drain();
  // Whether updates are waiting to run.
  bool pending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> updates_;
  bool scheduled_ = false;  // a drain is on its way to the event loop
  bool draining_ = false;   // touched on this object's thread only
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_UPDATE_QUEUE_H_
