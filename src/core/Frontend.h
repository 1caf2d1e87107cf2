// What the operator's front-end shows besides the chat view. The window and the terminal each
// implement it; the server core calls it where state the operator sees has changed.
#pragma once

#include <cstddef>
#include <string>

namespace murmur {

class Frontend {
public:
    virtual ~Frontend() = default;
    virtual void userListInserted(std::size_t /*index*/) {}
    virtual void userListRemoved(std::size_t /*index*/) {}
    virtual void userListReset() {}
    virtual void countLabelChanged() {}
    // A modal message with one OK button.
    virtual void messageBox(const std::string& /*text*/) {}
    // The configured port is taken: hide the operator window and ask for another port.
    virtual void askAlternatePort() {}
};

}  // namespace murmur
