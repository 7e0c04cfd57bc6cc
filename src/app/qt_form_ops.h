#ifndef HJ5_APP_QT_FORM_OPS_H_
#define HJ5_APP_QT_FORM_OPS_H_

#include <functional>

#include "app/hand_over_form_ops.h"

class QObject;

namespace hj5 {

// The UI thread of a Qt form: the thread of `ui_object`, reached through
// queued calls. A call still queued when `ui_object` is destroyed is dropped
// by Qt.
class QtUiThread : public UiThread {
 public:
  explicit QtUiThread(QObject& ui_object) : ui_object_(ui_object) {}

  bool IsCurrent() const override;
  void Post(std::function<void()> work) override;

 private:
  QObject& ui_object_;
};

// The form operations of a Qt form, safe from any thread (see
// HandOverFormOps).
class QtFormOps : private QtUiThread, public HandOverFormOps {
 public:
  // `ui_object` and `ui_ops` must outlive every caller.
  QtFormOps(QObject& ui_object, FormOps& ui_ops)
      : QtUiThread(ui_object),
        HandOverFormOps(static_cast<QtUiThread&>(*this), ui_ops) {}
};

}  // namespace hj5

#endif  // HJ5_APP_QT_FORM_OPS_H_
