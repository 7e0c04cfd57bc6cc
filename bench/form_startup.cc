// The tool's start-up up to its form being shown: UpdateApp and UpdateForm
// with the product's adapters, ended as soon as the form has painted.

#include "app/update_app.h"
#include "first_paint_probe.h"

int main(int argc, char** argv) {
  hj5::UpdateApp app(argc, argv);
  hj5::bench::FirstPaintProbe probe;
  app.installEventFilter(&probe);
  return app.Run();
}
