#include "dorvapp.h"
#include "dorvcontroller.h"

int main(int argc, char* argv[])
{
    DorvApp app(argc, argv);
    const int result = app.init();
    if (result != 0)
        return result;
    // Before the event loop, so that a device found at the manager's start is shown and queried at once.
    app.getController()->start();
    return app.exec();
}
