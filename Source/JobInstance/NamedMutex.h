// The machine-wide named mutex behind Monopoly's named mode, one backend per platform. Private
// to the library.
#pragma once

#include <memory>
#include <string>

namespace Kalvor {

class NamedMutex {
public:
    // Creates and takes the mutex; nullptr when it exists already or cannot be made, and then
    // `failure` says why when it is not simply held by someone else.
    static std::unique_ptr<NamedMutex> create(const std::string& name, std::string& failure);
    // Closes it; a mutex that release() could not give up is closed all the same.
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // False when the system refuses; the mutex stays held then.
    bool release();

private:
    struct State;
    explicit NamedMutex(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

} // namespace Kalvor
