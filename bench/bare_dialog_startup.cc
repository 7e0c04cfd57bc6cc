// The yardsticks for form_startup: a bare QDialog of the form's size shown
// modally by a bare QApplication, ended as soon as it has painted. With
// --text the dialog also shows one line of text, so that it pays for the
// font database as every form with text does. Built a second time as
// bare_dialog_curl_startup, linked with libcurl and initialising it as the
// tool does, to tell libcurl's share of the tool's start-up.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <cstring>
#ifdef HJ5_BENCH_WITH_CURL
#include <curl/curl.h>
#endif

#include "first_paint_probe.h"

int main(int argc, char** argv) {
#ifdef HJ5_BENCH_WITH_CURL
  curl_global_init(CURL_GLOBAL_ALL);
#endif
  QApplication app(argc, argv);
  hj5::bench::FirstPaintProbe probe;
  app.installEventFilter(&probe);
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Bare dialog"));
  dialog.resize(324, 219);
  if (argc > 1 && std::strcmp(argv[1], "--text") == 0) {
    auto* label = new QLabel(QStringLiteral("Address"), &dialog);
    label->move(12, 20);
  }
  dialog.exec();
  return 0;
}
