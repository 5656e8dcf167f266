// The pieces of the start-up that stand on their own: the application title, the home page drawn at random,
// the hand pointer file and the application icon.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>
#include <functional>
#include <optional>
#include <string>

namespace orv::app {

// The product name shortened at word boundaries: the last word is dropped at least once, and again while the
// text is longer than 40 characters. A name without a space stays as it is.
std::string ShortenToAppTitle(const std::string& productName);

// A number from 1 to 100 drawn from `randomFraction` (a value in [0, 1)).
int DrawOneToHundred(const std::function<double()>& randomFraction);

// A random fraction in [0, 1) from a generator seeded with the seconds since midnight.
double RandomFractionSeededByTime();

// Reads a Windows cursor file (.cur) into a cursor with the file's own hotspot; nullopt when the file cannot
// be read as a cursor.
std::optional<QCursor> LoadCursorFile(const QString& path);

// The application's own icon, in every size it ships in.
QIcon ApplicationIcon();

}  // namespace orv::app
