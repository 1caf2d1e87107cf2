#include "core/ChatLog.h"

#include <cstdio>
#include <sys/stat.h>

#include "core/DataFiles.h"
#include "core/Server.h"
#include "host/CodePage.h"
#include "host/TextFile.h"

namespace murmur {

void ChatLog::lineAdded(const ChatLine& line) {
    if (reporting_ || server_.settings.writeLogToFile != "Y") return;
    LocalTime t = server_.host.clock().now();
    char name[48];
    std::snprintf(name, sizeof name, "chat-%04d-%02d-%02d.txt", t.year, t.month, t.day);
    std::string directory = server_.path(files::chatLogs);
    ::mkdir(directory.c_str(), 0755);
    std::string path = textfile::pathIn(directory, name);

    std::FILE* file = std::fopen(path.c_str(), "ab");
    bool ok = file != nullptr;
    if (file) {
        std::string text = codepage::toPrintableUtf8(line.text()) + "\n";
        ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = std::fclose(file) == 0 && ok;
    }
    if (ok) {
        failing_ = false;
        return;
    }
    if (failing_) return;
    failing_ = true;
    reporting_ = true;
    addChat(server_, {{colour::red, "The chat log could not be written to " + path + "."}});
    reporting_ = false;
}

}  // namespace murmur
