#ifndef HJ5_APP_UPDATE_APP_H_
#define HJ5_APP_UPDATE_APP_H_

#include <QApplication>

namespace hj5 {

// The application object: starts the toolkit, names the settings area
// (never read or written), shows the one form modally and ends the tool when
// it closes, whether or not an update runs.
class UpdateApp : public QApplication {
 public:
  UpdateApp(int& argc, char** argv);

  // Shows the form until it is closed; returns the process's exit status.
  int Run();
};

}  // namespace hj5

#endif  // HJ5_APP_UPDATE_APP_H_
