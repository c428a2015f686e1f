// The update queue of the Qt window: frontend::UpdateQueue on the thread of
// a QObject, whose turns come as queued calls through Qt's event loop.
#ifndef MORAVINE_GUI_UPDATE_QUEUE_H_
#define MORAVINE_GUI_UPDATE_QUEUE_H_

#include <QObject>

#include "frontend/update_queue.h"

namespace moravine::gui {

class UpdateQueue : public QObject, public frontend::UpdateQueue {
 public:
  explicit UpdateQueue(QObject* parent = nullptr) : QObject(parent) {}

 protected:
  bool onWindowThread() const override;
  void wake() override;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_UPDATE_QUEUE_H_
