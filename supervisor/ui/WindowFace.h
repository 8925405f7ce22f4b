#pragma once
// Which face the window's texts are drawn in. Pure: the toolkit's font
// database is asked by the caller, and the answers are passed in.

#include <functional>
#include <string>
#include <string_view>

namespace tolvane {

// What the font database says of one family.
struct FaceFacts {
    bool installed = false;
    // Drawn from outlines at any size, not from a few hand-made bitmap sizes.
    bool scalable = false;
};

// The window's face: "MS Sans Serif" where it can be drawn at any size,
// otherwise the first installed scalable one of "Microsoft Sans Serif" (its
// outline twin, with the same widths, on every Windows), "Liberation Sans"
// and "Arial" (the same widths as Arial). On Windows "MS Sans Serif" is a
// bitmap face that only comes in a few pixel sizes: at 125 % to 175 % the
// system picks the next size up and the captions, measured for the twips of
// the layout, are cut. Nothing when none of them is installed and scalable
// (the toolkit's default face then serves).
std::string windowFaceFamily(const std::function<FaceFacts(std::string_view family)>& facts);

}  // namespace tolvane
