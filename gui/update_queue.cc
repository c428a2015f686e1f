#include "gui/update_queue.h"

#include <QThread>

namespace moravine::gui {

void UpdateQueue::post(std::function<void()> update) {
  bool here = QThread::currentThread() == thread();
  bool schedule = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    updates_.push_back(std::move(update));
    if (!here && !scheduled_) schedule = scheduled_ = true;
  }
  if (here) {
    drain();
  } else if (schedule) {
    QMetaObject::invokeMethod(this, [this] { drain(); }, Qt::QueuedConnection);
  }
}

void UpdateQueue::drain() {
  // An update that posts another lets the running drain pick it up in turn.
  if (draining_) return;
  draining_ = true;
  for (;;) {
    std::function<void()> update;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (updates_.empty()) {
        scheduled_ = false;
        break;
      }
      update = std::move(updates_.front());
      updates_.pop_front();
    }
    update();
  }
  draining_ = false;
}

bool UpdateQueue::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !updates_.empty();
}

}  // namespace moravine::gui
