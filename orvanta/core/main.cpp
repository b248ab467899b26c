#include <memory>

#include "orvanta/core/application.h"
#include "orvanta/core/headless_front_end.h"
#include "orvanta/ui/qt_front_end.h"

int main(int argc, char** argv)
{
    orvanta::BlockQuitSignals();
    orvanta::Options options = orvanta::ParseOptions(argc, argv);
    // A display means the tray application; the short runs that only hand something to the
    // running copy need no window.
    const bool windowed = !options.headless && !options.sendQuit && options.command == 0 && options.error.empty();
    if (!windowed) {
        orvanta::Application app(std::make_unique<orvanta::HeadlessFrontEnd>());
        return app.Run(options);
    }
    auto qt = std::make_unique<orvanta::ui::QtFrontEnd>(argc, argv, options.debug);
    orvanta::ui::QtFrontEnd& front = *qt;
    orvanta::Application app(std::move(qt));
    front.Attach(app);
    return app.Run(options);
}
