#pragma once

#include <QStringList>

namespace murmelo {

// The process entry: hands a request to a running instance, or checks for a desktop session,
// sets up the application object and runs Murmelo until it quits.
class MurmeloApp {
public:
    // Returns the process exit status.
    static int run(int& argc, char** argv);
};

} // namespace murmelo
