// The main of the form's test programs: a QApplication for the widgets, then
// every test on the UI thread.

#include <QApplication>

#include "gmock/gmock.h"

namespace {

QtMessageHandler previous_handler = nullptr;

// The offscreen platform warns about what it lacks (sizing hints, raising a
// window, grabbing the keyboard); the warnings say nothing about the form.
void QuietHandler(QtMsgType type, const QMessageLogContext& context,
                  const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support")))
    return;
  if (previous_handler) previous_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  previous_handler = qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
