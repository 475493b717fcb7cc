#pragma once
// A listener that records every expansion-port call, and a cartridge built from a CrtBuilder
// image that keeps its own copy of the bytes.

#include "machine/CBMMapper.h"

#include "tests/fixtures/c64/CrtBuilder.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace cart_test {

struct Lines {
    uint32_t game;
    uint32_t exrom;
    bool operator==(const Lines&) const = default;
};

struct Call {
    enum Kind { Map, SetLines } kind;
    unsigned which = 0;  // Map
    const uint8_t* bank = nullptr;
    Lines lines{};  // SetLines
};

class RecordingListener : public CBMMapperListener {
public:
    void mapBank(unsigned which, const uint8_t* bank) override
    {
        calls.push_back({Call::Map, which, bank, {}});
        mapped[which & 1] = bank;
    }
    void setExromGame(uint32_t game, uint32_t exrom) override
    {
        calls.push_back({Call::SetLines, 0, nullptr, {game, exrom}});
        lines = Lines{game, exrom};
    }

    // The lines of every setExromGame call since `from`.
    std::vector<Lines> linesSince(size_t from) const
    {
        std::vector<Lines> out;
        for (size_t i = from; i < calls.size(); ++i)
            if (calls[i].kind == Call::SetLines)
                out.push_back(calls[i].lines);
        return out;
    }

    std::vector<Call> calls;
    const uint8_t* mapped[2] = {nullptr, nullptr};
    std::optional<Lines> lines;
};

struct Cart {
    fixtures::Bytes image;
    RecordingListener listener;
    std::unique_ptr<CBMMapper> mapper;
    bool loaded = false;

    template <class T>
    T* as() const { return dynamic_cast<T*>(mapper.get()); }
};

// Creates and loads the builder's image; the mapper is null when the factory refuses it.
inline std::unique_ptr<Cart> makeCart(const fixtures::CrtBuilder& builder)
{
    auto cart = std::make_unique<Cart>();
    cart->image = builder.bytes();
    cart->mapper = createC64Cartridge(cart->image.data(), cart->image.size(), &cart->listener);
    if (cart->mapper)
        cart->loaded = cart->mapper->load();
    return cart;
}

}  // namespace cart_test
