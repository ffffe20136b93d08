#pragma once

#include <atomic>
#include <memory>

#include "automation/ApiLoader.h"

namespace MirelQla
{

// The client library as a host bound it: the loader and the API object made through it. The host, its
// automation API and every transaction made through that API hold it, so the library stays loaded and its
// transfers go on until the last of them is gone, in whatever order the caller lets them go. Then the API
// object goes back to the library, which ends its transfers, and the library is unloaded.
class ClientBinding
{
public:
    // A counted hold on a binding; the last one to let go deletes it. (Counted here rather than with
    // std::shared_ptr, whose type information would be exported from the library.)
    class Ref
    {
    public:
        Ref() = default;
        Ref(const Ref& other) : _p(other._p) { Hold(); }
        Ref(Ref&& other) noexcept : _p(other._p) { other._p = nullptr; }
        Ref& operator=(Ref other) noexcept
        {
            std::swap(_p, other._p);
            return *this;
        }
        ~Ref() { reset(); }
        void reset();
        explicit operator bool() const { return _p != nullptr; }
        const ClientBinding* operator->() const { return _p; }

    private:
        friend class ClientBinding;
        explicit Ref(ClientBinding* p) : _p(p) { Hold(); }
        void Hold()
        {
            if (_p)
                _p->_nHolds.fetch_add(1, std::memory_order_relaxed);
        }

        ClientBinding* _p = nullptr;
    };

    // Binds through the loader: takes its API object.
    static Ref Bind(std::unique_ptr<ApiLoader> loader);

    // The API object; null when the library gave none.
    QlmClientAPI* Api() const { return _pApi; }
    const ApiLoader& Loader() const { return *_pLoader; }

private:
    explicit ClientBinding(std::unique_ptr<ApiLoader> loader);
    ~ClientBinding();
    ClientBinding(const ClientBinding&) = delete;
    ClientBinding& operator=(const ClientBinding&) = delete;

    std::unique_ptr<ApiLoader> _pLoader;
    QlmClientAPI* _pApi;
    std::atomic<int> _nHolds{0};
};

}  // namespace MirelQla
