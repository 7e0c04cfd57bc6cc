#ifndef HJ5_BENCH_FIRST_PAINT_PROBE_H_
#define HJ5_BENCH_FIRST_PAINT_PROBE_H_

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "proc_status.h"

namespace hj5::bench {

// Watches the whole application for the first paint of a dialog: prints
// "shown_ns=<CLOCK_MONOTONIC nanoseconds>", and once that paint is done the
// peak resident memory so far, "shown_hwm_kib=<VmHWM>", then ends the
// dialog. The program's start-up to its form being shown is timed from
// outside; its memory is the peak up to then, before any teardown.
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
        QTimer::singleShot(0, dialog, [dialog] {
          std::printf("shown_hwm_kib=%ld\n", StatusField("VmHWM"));
          std::fflush(stdout);
          dialog->done(0);
        });
      }
    }
    return false;
  }

 private:
  bool seen_ = false;
};

}  // namespace hj5::bench

#endif  // HJ5_BENCH_FIRST_PAINT_PROBE_H_
