#include "app/Display.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

#include "ui/ConsoleLink.h"

namespace murmur {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Asks the X server itself, the way Qt's own platform plugin will, through the same library; left
// loaded for Qt.
std::string xProblem(const std::string& display) {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return "the X client library libxcb.so.1 cannot be loaded";
    auto connect = reinterpret_cast<void* (*)(const char*, int*)>(::dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<int (*)(void*)>(::dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<void (*)(void*)>(::dlsym(xcb, "xcb_disconnect"));
    if (!connect || !hasError || !disconnect) return "the X client library libxcb.so.1 cannot be used";
    void* connection = connect(display.c_str(), nullptr);
    bool failed = hasError(connection) != 0;
    disconnect(connection);
    return failed ? "the display " + display + " cannot be opened" : "";
}

std::string waylandProblem(const std::string& display) {
    QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
    if (platforms.entryList({"libqwayland*"}, QDir::Files).isEmpty()) return "Qt has no Wayland platform plugin here";
    std::string path = display[0] == '/' ? display : environment("XDG_RUNTIME_DIR") + "/" + display;
    int fd = consolelink::connectTo(consolelink::SocketAddress(path));
    if (fd < 0) return "the Wayland display " + display + " cannot be opened";
    ::close(fd);
    return "";
}

}  // namespace

std::string displayProblem() {
    // A platform the operator names is the operator's choice.
    if (!environment("QT_QPA_PLATFORM").empty()) return "";
    if (std::string x = environment("DISPLAY"); !x.empty()) return xProblem(x);
    if (std::string wayland = environment("WAYLAND_DISPLAY"); !wayland.empty()) return waylandProblem(wayland);
    return "no display is set (DISPLAY and WAYLAND_DISPLAY are empty)";
}

}  // namespace murmur
