// What the worst documents cost: each one through pasted text, a preset file and a preferences file,
// against an ordinary preset. The aim is well under a second and 100 MB for anything a host, a file or
// the clipboard can hand over (peak memory: run under /usr/bin/time -v with --benchmark_filter).

#include "KestruneRoom.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <string>

namespace
{
std::string repeated(const std::string& text, size_t times)
{
    std::string result;
    result.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i)
        result += text;
    return result;
}

struct Document
{
    const char* name;
    std::string text;
};

const std::vector<Document>& documents()
{
    static const std::vector<Document> all{
        {"ordinary preset",
         R"(<?xml version="1.0" encoding="UTF-8"?><KestruneRoom presetName="Hall" mix="0.5"/>)"},
        {"largest accepted: a 1 MB name",
         "<KestruneRoom presetName='" + std::string((1u << 20) - 64, '"') + "'/>"},
        {"100000 elements opened without end", "<KestruneRoom mix=\"0\">" + repeated("<a>", 100000)},
        {"100000 elements nested and closed",
         "<KestruneRoom mix=\"0\">" + repeated("<a>", 100000) + repeated("</a>", 100000) + "</KestruneRoom>"},
        {"256 attributes", "<KestruneRoom " +
                                []
                                {
                                    std::string a;
                                    for (int i = 0; i < 256; ++i)
                                        a += "a" + std::to_string(i) + "=\"1\" ";
                                    return a;
                                }() +
                                "/>"},
        {"1300 preferences values", "<PROPERTIES>" +
                                        []
                                        {
                                            std::string v;
                                            for (int i = 0; i < 1300; ++i)
                                                v += "<VALUE name=\"k" + std::to_string(i) + "\" val=\"v\"/>";
                                            return v;
                                        }() +
                                        "</PROPERTIES>"},
    };
    return all;
}

struct Fixture
{
    const juce::ScopedJuceInitialiser_GUI juce;
    juce::TemporaryFile folder;
    std::unique_ptr<KestruneRoom> processor;

    Fixture()
    {
        folder.getFile().createDirectory();
        processor = std::make_unique<KestruneRoom>(folder.getFile().getChildFile("prefs"));
    }
    ~Fixture() { folder.getFile().deleteRecursively(); }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void paste(benchmark::State& state)
{
    const auto& document = documents()[static_cast<size_t>(state.range(0))];
    const auto text = juce::String::fromUTF8(document.text.data(), static_cast<int>(document.text.size()));
    for (auto _ : state)
        fixture().processor->setStateFromText(text);
    state.SetLabel(document.name);
}

void presetFile(benchmark::State& state)
{
    const auto& document = documents()[static_cast<size_t>(state.range(0))];
    const auto file = fixture().folder.getFile().getChildFile("bench.kpreset");
    file.replaceWithData(document.text.data(), document.text.size());
    for (auto _ : state)
        fixture().processor->loadPresetFile(file);
    state.SetLabel(document.name);
}

void preferencesFile(benchmark::State& state)
{
    const auto& document = documents()[static_cast<size_t>(state.range(0))];
    const auto file = fixture().folder.getFile().getChildFile("bench.settings");
    file.replaceWithData(document.text.data(), document.text.size());
    for (auto _ : state)
    {
        KestrunePropertiesFile properties(file, juce::PropertiesFile::Options());
        benchmark::DoNotOptimize(properties.getAllProperties().size());
    }
    state.SetLabel(document.name);
}

void everyDocument(benchmark::internal::Benchmark* b)
{
    b->DenseRange(0, static_cast<int>(documents().size()) - 1)->Unit(benchmark::kMillisecond);
}
} // namespace

BENCHMARK(paste)->Apply(everyDocument);
BENCHMARK(presetFile)->Apply(everyDocument);
BENCHMARK(preferencesFile)->Apply(everyDocument);
