#ifndef HJ5_BENCH_FIRST_PAINT_PROBE_H_
#define HJ5_BENCH_FIRST_PAINT_PROBE_H_

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace hj5::bench {

// Watches the whole application for the first paint of a dialog: prints
// "shown_ns=<CLOCK_MONOTONIC nanoseconds>" and then ends the dialog, so the
// program's start-up to its form being shown can be timed from outside.
class FirstPaintProbe : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!seen_ && event->type() == QEvent::Paint) {
      if (auto* dialog = qobject_cast<QDialog*>(watched)) {
        seen_ = true;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf(
            "shown_ns=%lld\n",
            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
        QTimer::singleShot(0, dialog, [dialog] { dialog->done(0); });
      }
    }
    return false;
  }

 private:
  bool seen_ = false;
};

}  // namespace hj5::bench

#endif  // HJ5_BENCH_FIRST_PAINT_PROBE_H_
