// The built LV2 bundle's description as hosts read it (through lilv, as Ardour and jalv do), against the
// processor: one control port per parameter with its name and its default to the last bit, the mode
// list with the values that select each mode, and what a host needs to flush the reverb.

#include "PluginTestUtils.h"

#include <lilv/lilv.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>

#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <string>

using namespace kestrune::plugintest;

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

namespace
{
constexpr const char* kUri = "https://kestrunedsp.com/plugins/kestruneroom";
constexpr uint32_t kFirstControlPort = 9; // after JUCE's audio, atom, latency, free-wheeling and enable ports

class LV2Description : public testing::Test
{
  protected:
    void SetUp() override
    {
        const auto bundle =
            juce::File(KESTRUNE_LV2_FOLDER).getChildFile("KestruneRoom.lv2").getFullPathName() + "/";
        LilvNode* bundleUri = lilv_new_file_uri(world, nullptr, bundle.toRawUTF8());
        lilv_world_load_bundle(world, bundleUri);
        lilv_node_free(bundleUri);
        LilvNode* uri = node(kUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        ASSERT_NE(plugin, nullptr) << "no " << kUri << " in " << bundle;
    }
    void TearDown() override
    {
        for (auto& [text, n] : nodes)
            lilv_node_free(n);
        lilv_world_free(world);
    }

    // A URI node that lives as long as the test.
    LilvNode* node(const std::string& uri)
    {
        auto& n = nodes[uri];
        if (n == nullptr)
            n = lilv_new_uri(world, uri.c_str());
        return n;
    }

    // Whether the plug-in's description says (plugin predicate object); object empty: any object.
    bool says(const std::string& predicate, const std::string& object = "")
    {
        LilvNodes* values = lilv_plugin_get_value(plugin, node(predicate));
        const bool found = values != nullptr && (object.empty() ? lilv_nodes_size(values) > 0
                                                                : lilv_nodes_contains(values, node(object)));
        lilv_nodes_free(values);
        return found;
    }

    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    std::map<std::string, LilvNode*> nodes;
};
} // namespace

TEST_F(LV2Description, EveryParameterIsAControlPortWithTheProcessorsNameAndDefault)
{
    TestProcessor processor;
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), kFirstControlPort + kestrune::kNumParameters);
    for (int k = 0; k < kestrune::kNumParameters; ++k)
    {
        SCOPED_TRACE(processor->getParameterName(k));
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, kFirstControlPort + (uint32_t)k);
        ASSERT_NE(port, nullptr);
        EXPECT_TRUE(lilv_port_is_a(plugin, port, node(LILV_URI_CONTROL_PORT)));
        EXPECT_TRUE(lilv_port_is_a(plugin, port, node(LILV_URI_INPUT_PORT)));
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_EQ(std::string(lilv_node_as_string(name)), processor->getParameterName(k).toStdString());
        lilv_node_free(name);
        EXPECT_EQ(std::string(lilv_node_as_string(lilv_port_get_symbol(plugin, port))),
                  processor->getParameterName(k).toStdString());

        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        ASSERT_TRUE(def != nullptr && min != nullptr && max != nullptr);
        // A host that applies the default gives the processor its own value, bit for bit.
        EXPECT_EQ(std::bit_cast<uint32_t>(lilv_node_as_float(def)),
                  std::bit_cast<uint32_t>(processor->getParameterDefaultValue(k)));
        EXPECT_EQ(lilv_node_as_float(min), 0.0f);
        EXPECT_EQ(lilv_node_as_float(max), 1.0f);
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        EXPECT_EQ(lilv_port_has_property(plugin, port, node(LV2_CORE__enumeration)), k == kestrune::kType);
    }
}

// A host's list offers the twelve modes by name, each at a value that selects that mode.
TEST_F(LV2Description, TheModeListSelectsEachMode)
{
    TestProcessor processor;
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, kFirstControlPort + kestrune::kType);
    ASSERT_NE(port, nullptr);
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    ASSERT_NE(points, nullptr);
    EXPECT_EQ(lilv_scale_points_size(points), (unsigned)kestrune::kNumModes);
    std::map<float, std::string> byValue;
    LILV_FOREACH(scale_points, i, points)
    {
        const LilvScalePoint* point = lilv_scale_points_get(points, i);
        byValue[lilv_node_as_float(lilv_scale_point_get_value(point))] =
            lilv_node_as_string(lilv_scale_point_get_label(point));
    }
    lilv_scale_points_free(points);

    ASSERT_EQ(byValue.size(), (size_t)kestrune::kNumModes);
    int mode = 0;
    for (const auto& [value, label] : byValue)
    {
        EXPECT_EQ(label, kestrune::kModeNames[(size_t)mode]) << value;
        processor->setParameter(kestrune::kType, value);
        EXPECT_EQ(processor->getParameterText(kestrune::kType).toStdString(), label) << value;
        EXPECT_EQ(value, static_cast<float>(mode + 1) / 12.0f) << "the value the mode selector writes";
        ++mode;
    }
}

TEST_F(LV2Description, DescribesAReverbThatHostsCanFlushAndNoPatchProperties)
{
    EXPECT_TRUE(says(LILV_NS_RDF "type", LV2_CORE__ReverbPlugin));

    // Ardour sets the block size through the options interface before a bounce.
    EXPECT_TRUE(lilv_plugin_has_extension_data(plugin, node(LV2_OPTIONS__interface)));
    EXPECT_TRUE(says(LV2_OPTIONS__supportedOption, LV2_BUF_SIZE__nominalBlockLength));

    EXPECT_FALSE(says(LV2_PATCH__writable));
    EXPECT_FALSE(says(LV2_PATCH__readable));

    LilvNode* homepage = lilv_plugin_get_author_homepage(plugin);
    LilvNode* email = lilv_plugin_get_author_email(plugin);
    ASSERT_TRUE(homepage != nullptr && email != nullptr);
    EXPECT_TRUE(juce::String(lilv_node_as_uri(homepage)).startsWith("https://"));
    EXPECT_TRUE(juce::String(lilv_node_as_uri(email)).startsWith("mailto:"));
    lilv_node_free(homepage);
    lilv_node_free(email);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
