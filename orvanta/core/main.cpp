#include "orvanta/core/application.h"

int main(int argc, char** argv) {
    orvanta::Options options = orvanta::ParseOptions(argc, argv);
#ifndef ORVANTA_HAVE_UI
    // Without the user interface built in, every start is a headless one.
    options.headless = true;
#endif
    orvanta::Application app;
    return app.Run(options);
}
