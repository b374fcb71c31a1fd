// The loader's message texts, looked up by id (the absolute value of a
// failure code).
#pragma once

#include <string>

// The text of `id`, or nullptr when the table has none.
const char* ldr_string(int id);
// The text a failure code is shown with. Codes without a text of their own
// (file chooser failures) get text 2003 with the code filled in.
std::string ldr_error_text(int code);

inline constexpr const char* LDR_ERROR_TITLE = "Ошибка!";
