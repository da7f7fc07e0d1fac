#include "failure.h"

#include <initializer_list>

#include "overloaded.h"

namespace tarvik {

namespace {

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) {
    size += p.size();
  }
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) {
    out += p;
  }
  return out;
}

}  // namespace

std::string_view name(ReaderContext context) noexcept {
  switch (context) {
    case ReaderContext::Header:
      return "header";
    case ReaderContext::Document:
      return "document";
    case ReaderContext::Account:
      return "account";
    case ReaderContext::Finished:
      return "finished";
    case ReaderContext::Init:
      return "init";
    case ReaderContext::ReadNextSection:
      return "read_next_section";
  }
  return "init";
}

std::string message(const SyntaxDetail& detail) {
  return std::visit(
      Overloaded{
          [](const UnexpectedSection& d) {
            return concat(
                {"Unexpected section '", d.found, "' in context '", name(d.context), "'"});
          },
          [](const UnexpectedAttribute& d) {
            return concat({"Unexpected attribute '", d.key, "' = '", d.value, "'"});
          },
          [](const UnrecognizedLine& d) {
            return concat({"Unrecognized line: '", d.line, "'"});
          },
          [](const MissingField& d) {
            return concat({"Missing field '", d.field, "' in context '", name(d.context), "'"});
          },
          [](const AccountParseError& d) {
            return concat({"Account parse error: ", d.message});
          },
          [](const HookError& d) {
            return concat({"Hook error: ", d.message});
          },
      },
      detail);
}

std::string message(const ParseFailure& failure) {
  return std::visit(Overloaded{
                        [](NotStatement) { return std::string("Input is not a 1C statement"); },
                        [](Unfinished) { return std::string("Statement is not finished"); },
                        [](const SyntaxDetail& d) { return message(d); },
                    },
                    failure);
}

std::uint64_t lineno(const SyntaxDetail& detail) noexcept {
  return std::visit([](const auto& d) { return d.lineno; }, detail);
}

std::string missing_field_message(std::string_view key) {
  return concat({"missing field `", key, "`"});
}

}  // namespace tarvik
