#include <memory>

#include "orvanta/core/application.h"
#include "orvanta/core/headless_front_end.h"

int main(int argc, char** argv)
{
    orvanta::Options options = orvanta::ParseOptions(argc, argv);
    // The tray application is still to come: every start is a headless one until then.
    options.headless = true;
    orvanta::Application app(std::make_unique<orvanta::HeadlessFrontEnd>());
    return app.Run(options);
}
