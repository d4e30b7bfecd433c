#pragma once

// Registers the faces that stand in for the Windows faces the windows name (MS Gothic,
// Century, Arial) and sets the Japanese-capable default UI font. Call once after the
// application object exists.
void installFonts();
