// hj5-xml-update: puts an XML file onto an HJ-5 device and runs its update.

#include "app/update_app.h"

int main(int argc, char** argv) {
  hj5::UpdateApp app(argc, argv);
  return app.Run();
}
