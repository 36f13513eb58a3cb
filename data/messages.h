// The message screen's texts: the title line and fifteen lines drawn top to
// bottom. The lines of twenty blanks draw nothing visible but keep the
// spacing; trailing blanks are part of the text.
#pragma once

inline constexpr const char messageTitle[] = "Kaas op de zolder!";

inline constexpr const char* const messageLines[15] = {
    "Okay, so i guess the beamer isn't broken... ",
    "                    ",
    "Code/music/visuals by marlo because being ",
    "bored sucks!",
    "",
    "                    ",
    "Greets to fesk/wimba/q/tulva k/glimbo etc",
    "                    ",
    "You can listen to the nice tune or press ",
    "escape now...",
    "                    ",
    "                    ",
    "                    ",
    "                    ",
    "                    ",
};
