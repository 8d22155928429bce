// Kevrale: start-up of the desktop program.
#include <memory>

#include "about/TAboutBox.h"
#include "app/Startup.h"
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "app/TForm2.h"

namespace {

// Makes the plug-in bitmap the graphic kind that the plug-in host registers
// for the extensions of its import plug-ins; at program end that kind is
// withdrawn from the picture's format registry again. This must happen
// before any window exists. The plug-in graphic is still being built; until
// it is wired in, nothing needs to be done here.
void InstallPluginGraphicClass() {}
void WithdrawPluginGraphicClass() {}

}  // namespace

int main(int argc, char** argv) {
  using namespace kevrale;

  InstallPluginGraphicClass();
  TApplication application(argc, argv);

  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;
  std::unique_ptr<TAboutBox> about_box;
  const int status = RunStartup(
      [&] {
        form1 = std::make_unique<TForm1>();
        form2 = std::make_unique<TForm2>();
        about_box = std::make_unique<TAboutBox>();
        form1->Attach(form2.get(), about_box.get());
      },
      [&] {
        form1->show();
        return application.exec();
      });

  about_box.reset();
  form2.reset();
  form1.reset();
  WithdrawPluginGraphicClass();
  return status;
}
