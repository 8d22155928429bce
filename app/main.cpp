// Kevrale: start-up of the desktop program.
#include <memory>

#include <QTimer>

#include "about/TAboutBox.h"
#include "app/Startup.h"
#include "app/TApplication.h"
#include "app/TForm1.h"
#include "app/TForm2.h"
#include "ipc/PluginProcessGroups.h"
#include "platform/Confinement.h"
#include "plugins/SPIBitmapRegistration.h"

int main(int argc, char** argv) {
  using namespace kevrale;

  // Plug-in processes run the user's foreign code: none of them may read or
  // write this process's memory, and a signal that ends the program ends
  // them first.
  MakeUndumpable();
  EndPluginProcessesOnSignals();

  // The plug-in bitmap is the kind that the host registers its formats for;
  // it is set before any window exists and withdrawn after the last one.
  SPIBitmapRegistration plugin_graphic;
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
        // Once the window is up: the plug-in files that could not be used
        // are listed, then a file named on the command line (the desktop's
        // "Open with") opens, as a file dropped on the window would.
        QTimer::singleShot(0, form1.get(), [&] {
          form1->ShowSkippedPlugins();
          form1->OpenFileArgument(QCoreApplication::arguments());
        });
        return application.exec();
      });

  about_box.reset();
  form2.reset();
  form1.reset();
  return status;
}
