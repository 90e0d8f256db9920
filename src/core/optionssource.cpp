#include "core/optionssource.h"

namespace {
std::function<OptionsSource *()> g_factory;
OptionsSource *g_source = nullptr;
bool g_creating = false;
DefaultOptions g_defaults;
} // namespace

namespace tw {
const OptionsSource &options()
{
    if (!g_source && g_factory && !g_creating) {
        // The factory publishes the instance itself (setOptions) before the
        // model writes its option block, which reads options again.
        g_creating = true;
        OptionsSource *created = g_factory();
        g_creating = false;
        if (!g_source)
            g_source = created;
    }
    return g_source ? *g_source : g_defaults;
}

void setOptionsFactory(std::function<OptionsSource *()> factory)
{
    g_factory = std::move(factory);
}

void setOptions(OptionsSource *source)
{
    g_source = source;
}
} // namespace tw
