#pragma once
// Which way a user interface reads; controls mirror direction-dependent glyphs and orders by it.
enum class NSUserInterfaceLayoutDirection : int { LeftToRight = 0, RightToLeft = 1 };
