#include "HeadlessSway.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace murmelo::test {

bool startHeadlessSway(TestEnvironment& environment, ChildProcesses& children,
                       std::chrono::milliseconds limit) {
    const QString root = environment.root();
    const QString folder = root + "/compositor", config = root + "/sway.config";
    QDir().mkpath(folder);
    writeFile(config, "xwayland disable\noutput HEADLESS-1 resolution 1280x720\n");
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    QFile::setPermissions(root, owner | QFile::ExeOther);
    QFile::setPermissions(config, owner | QFile::ReadOther);
    // sway gets an environment of its own. Changing the user clears the parent-death signal;
    // setpriv sets it again after.
    const QString wlroots = "WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman";
    QStringList arguments{"--pdeathsig=TERM", "env", "-i", "PATH=" + qEnvironmentVariable("PATH")};
    arguments << "HOME=" + folder << "XDG_RUNTIME_DIR=" + folder << wlroots.split(' ');
    arguments += QStringList{"sway", "-c", config};
    if (::geteuid() == 0) {
        [[maybe_unused]] const int owned = ::chown(QFile::encodeName(folder).constData(), 65534, 65534);
        arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + arguments;
    }
    // sway leaves wayland-0 to other compositors.
    environment.set("WAYLAND_DISPLAY", QFile::encodeName(folder + "/wayland-1"));
    // Ready once its IPC lists the headless output: the Wayland socket comes before the IPC and
    // the outputs.
    const auto ready = [&] {
        const QStringList ipc = QDir(folder).entryList({"sway-ipc.*.sock"}, QDir::System);
        environment.set("SWAYSOCK", QFile::encodeName(folder + "/" + ipc.value(0)));
        QByteArray outputs;
        return !ipc.isEmpty() &&
               runToEnd(QProcessEnvironment::systemEnvironment(), "swaymsg", {"-t", "get_outputs"}, &outputs,
                        std::chrono::seconds(10)) &&
               outputs.contains("HEADLESS-1");
    };
    return children.startAndWait(QProcessEnvironment::systemEnvironment(), root, "setpriv", arguments, ready,
                                 limit);
}

} // namespace murmelo::test
