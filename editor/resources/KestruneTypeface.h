#pragma once

// The embedded typeface: JUCE's serialised custom-typeface format as a zlib stream (255 glyphs,
// default character a space), made from Roboto Condensed by tools/typeface-gen. Read it with
// juce::CustomTypeface's stream constructor.
namespace KestruneTypeface
{
extern const unsigned char data[];
extern const int size;
} // namespace KestruneTypeface
