#include "gui/update_queue.h"

#include <QThread>

namespace moravine::gui {

bool UpdateQueue::onWindowThread() const { return QThread::currentThread() == thread(); }

void UpdateQueue::wake() {
  QMetaObject::invokeMethod(this, [this] { drainTurn(); }, Qt::QueuedConnection);
}

}  // namespace moravine::gui
