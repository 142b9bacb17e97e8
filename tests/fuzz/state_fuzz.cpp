// The state-document reader: any bytes are read without a crash or a
// sanitizer report. A document that loads saves back to a fixed point, and
// the loaded engine ticks: whatever the reader accepts is consistent enough
// to simulate.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/engine/sim_engine.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto engine = SimEngine::load_state(bytes);
    if (!engine)
        return 0;
    auto saved = engine->save_state();
    FUZZ_CHECK(saved.has_value());
    auto again = SimEngine::load_state(*saved);
    FUZZ_CHECK(again.has_value());
    auto saved_again = again->save_state();
    FUZZ_CHECK(saved_again && *saved_again == *saved);
    for (int t = 0; t < 3; ++t)
        engine->tick(t == 1 ? 0.5f : 1.0f);
    FUZZ_CHECK(engine->save_state().has_value());
    return 0;
}
