// Reads a 1CClientBankExchange statement with the C++ core and prints how many documents and
// accounts it holds, or the failure that ended the parse.
//
// Usage: tarvik_count STATEMENT_FILE

#include <tarvik/failure.h>
#include <tarvik/parse.h>
#include <tarvik/statement.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <span>
#include <string>
#include <variant>

namespace {

bool read_file(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "tarvik_count") << " STATEMENT_FILE\n";
    return 2;
  }
  std::string bytes;
  if (!read_file(argv[1], bytes)) {
    std::cerr << argv[1] << ": cannot read the file\n";
    return 2;
  }

  auto result = tarvik::parse(bytes, std::span<tarvik::SectionHook* const>());
  if (!result) {
    const tarvik::ParseFailure& failure = result.error();
    std::cerr << argv[1] << ": ";
    if (const auto* detail = std::get_if<tarvik::SyntaxDetail>(&failure)) {
      std::cerr << "line " << tarvik::lineno(*detail) << ": ";
    }
    std::cerr << tarvik::message(failure) << '\n';
    return 1;
  }
  const tarvik::Statement& statement = result.value();
  std::cout << "encoding: " << tarvik::encoding_name(statement.encoding) << '\n'
            << "documents: " << statement.documents.size() << '\n'
            << "accounts: " << statement.accounts.size() << '\n'
            << "warnings: " << statement.warnings.size() << '\n';
  return 0;
}
