#pragma once

#include <span>
#include <string_view>

#include "failure.h"
#include "result.h"
#include "section_hook.h"
#include "statement.h"

namespace tarvik {

// The core's one entry: raw statement bytes (UTF-8 or windows-1251) and the hooks in order, a
// Statement or the one failure out. Bad input never throws; std::bad_alloc and whatever a hook
// throws pass through.
Result<Statement, ParseFailure> parse(std::string_view input, std::span<SectionHook* const> hooks);

}  // namespace tarvik
