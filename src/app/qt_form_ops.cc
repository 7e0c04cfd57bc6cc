#include "app/qt_form_ops.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace hj5 {

bool QtUiThread::IsCurrent() const {
  return QThread::currentThread() == ui_object_.thread();
}

void QtUiThread::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(&ui_object_, std::move(work), Qt::QueuedConnection);
}

}  // namespace hj5
