#pragma once

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <utility>

namespace netlink {

/// The errno that stopped a query.
struct Failure {
    int error;
};

/// A query's outcome: the whole answer, or the errno that stopped it. There is no value to read
/// from a failed query, so a failure cannot pass for "nothing there".
template <typename T> class Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure f) : m_error(f.error != 0 ? f.error : EIO) {}

    bool ok() const { return m_error == 0; }
    explicit operator bool() const { return ok(); }
    /// 0 when the query succeeded.
    int error() const { return m_error; }

    const T& value() const
    {
        if (!ok()) {
            throw std::logic_error("netlink: the value of a failed query was read");
        }
        return *m_value;
    }
    T& value()
    {
        if (!ok()) {
            throw std::logic_error("netlink: the value of a failed query was read");
        }
        return *m_value;
    }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }

private:
    std::optional<T> m_value;
    int m_error = 0;
};

} // namespace netlink
