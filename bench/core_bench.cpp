// Stage micro-benchmarks of the parsing core: decode, lex, read, build and the whole parse.
//
//   core_bench [Google Benchmark flags] [statement files...]
//
// Every file given is benchmarked as it is (its encoding is whatever the decoding finds). With
// no file, a statement of 2,000 documents is generated here in UTF-8 and in windows-1251. All
// stages report bytes per second over the whole input, so their rates add up like their times:
// a stage at twice the rate of another costs half as much per input megabyte.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "account_builder.h"
#include "document_builder.h"
#include "input_decoding.h"
#include "line_lexer.h"
#include "parse.h"
#include "statement_reader.h"
#include "tests/fixtures.h"
#include "tests/whole_text.h"

namespace {

using tarvik::AccountValues;
using tarvik::DocumentValues;
using tarvik::LineToken;
using tarvik::TokenKind;

// A statement in the shape of a bank's export: account sections, then documents carrying the
// keys the core reads and the ones it skips.
std::string generated_statement(int documents) {
  std::string s =
      "1CClientBankExchange\r\nВерсияФормата=1.03\r\nКодировка=Windows\r\n"
      "Отправитель=Бухгалтерия предприятия, редакция 3.0\r\nПолучатель=\r\n"
      "ДатаСоздания=02.04.2024\r\nВремяСоздания=09:15:42\r\nДатаНачала=01.03.2024\r\n"
      "ДатаКонца=31.03.2024\r\nРасчСчет=40702810900000012345\r\n";
  for (int day = 1; day <= 28; ++day) {
    const std::string date = (day < 10 ? "0" : "") + std::to_string(day) + ".03.2024";
    s += "СекцияРасчСчет\r\nДатаНачала=" + date + "\r\nДатаКонца=" + date +
         "\r\nРасчСчет=40702810900000012345\r\nНачальныйОстаток=" +
         std::to_string(100000 + day * 1000) +
         ".00\r\nВсегоПоступило=" + std::to_string(day * 1500) +
         ".50\r\nВсегоСписано=" + std::to_string(day * 500) +
         ".50\r\nКонечныйОстаток=" + std::to_string(100000 + day * 2000) +
         ".00\r\nКонецРасчСчет\r\n";
  }
  for (int i = 0; i < documents; ++i) {
    const std::string n = std::to_string(i + 1);
    const std::string date = (i % 28 < 9 ? "0" : "") + std::to_string(i % 28 + 1) + ".03.2024";
    s += "СекцияДокумент=" + std::string(i % 5 == 0 ? "Банковский ордер" : "Платежное поручение") +
         "\r\nНомер=" + n + "\r\nДата=" + date + "\r\nСумма=" + std::to_string(1000 + i * 37) +
         "." + std::to_string(10 + i % 90) +
         "\r\nПлательщикСчет=40702810900000012345\r\nДатаСписано=" + date +
         "\r\nПлательщик=ИНН 7701234567 ООО \"Ромашка\"\r\nПлательщикИНН=7701234567\r\n"
         "ПлательщикКПП=770101001\r\nПлательщик1=ООО \"Ромашка\"\r\n"
         "ПлательщикРасчСчет=40702810900000012345\r\nПлательщикБанк1=ПАО СБЕРБАНК\r\n"
         "ПлательщикБанк2=г. Москва\r\nПлательщикБИК=044525225\r\n"
         "ПлательщикКорсчет=30101810400000000225\r\nПолучательСчет=40702810138000004321\r\n"
         "ДатаПоступило=\r\nПолучатель=ИНН 5029012345 АО «Вектор»\r\n"
         "ПолучательИНН=5029012345\r\nПолучательКПП=502901001\r\nПолучатель1=АО «Вектор»\r\n"
         "ПолучательРасчСчет=40702810138000004321\r\nПолучательБанк1=ПАО СБЕРБАНК\r\n"
         "ПолучательБанк2=г. Москва\r\nПолучательБИК=044525225\r\n"
         "ПолучательКорсчет=30101810400000000225\r\nВидПлатежа=электронно\r\nВидОплаты=01\r\n"
         "Код=0\r\nСтатусСоставителя=\r\nПоказательКБК=\r\nОКАТО=\r\nПоказательОснования=\r\n"
         "ПоказательПериода=\r\nПоказательНомера=\r\nПоказательДаты=\r\nОчередность=5\r\n"
         "НазначениеПлатежа=Оплата по счету № " +
         n + " от " + date + " за поставку товара. В т.ч. НДС 20% — 1200.00\r\nКонецДокумента\r\n";
  }
  s += "КонецФайла\r\n";
  return s;
}

// One input with what the later stages start from, prepared once outside the timed loops.
struct Input {
  std::string name;
  std::string raw;
  std::string storage;    // the decoded text when it is not the input itself
  std::string_view text;  // decoded whole
  tarvik::Encoding encoding = tarvik::Encoding::Utf8;
  bool cp1251 = false;  // parse reads it in its own bytes
  std::vector<std::pair<DocumentValues, std::string_view>> documents;
  std::vector<std::pair<AccountValues, std::uint64_t>> accounts;
};

// Gathers the values of every section as the reader files them without hooks, so that the
// build stage can be timed on its own.
void collect_sections(Input& in) {
  tarvik::LineLexer lexer(in.cp1251 ? in.raw : in.text, in.encoding);
  LineToken token;
  DocumentValues document{};
  AccountValues account{};
  std::string_view type;
  enum { kNone, kDocument, kAccount } open = kNone;
  while (lexer.next(token) == tarvik::LexStep::Token) {
    switch (token.kind) {
      case TokenKind::DocumentStart:
        document.fill(std::nullopt);
        type = token.value;
        open = kDocument;
        break;
      case TokenKind::AccountStart:
        account.fill(std::nullopt);
        open = kAccount;
        break;
      case TokenKind::Attribute:
        if (open == kDocument) {
          if (const int r = tarvik::document_key_rank(token.key, in.encoding); r >= 0) {
            document[static_cast<std::size_t>(r)] = token.value;
          }
        } else if (open == kAccount) {
          if (const int r = tarvik::account_key_rank(token.key, in.encoding); r >= 0) {
            account[static_cast<std::size_t>(r)] = token.value;
          }
        }
        break;
      case TokenKind::DocumentEnd:
        in.documents.emplace_back(document, type);
        open = kNone;
        break;
      case TokenKind::AccountEnd:
        in.accounts.emplace_back(account, token.lineno);
        open = kNone;
        break;
      case TokenKind::FileStart:
      case TokenKind::FileEnd:
        open = kNone;
        break;
    }
  }
}

std::unique_ptr<Input> prepare(std::string name, std::string raw) {
  auto in = std::make_unique<Input>();
  in->name = std::move(name);
  in->raw = std::move(raw);
  auto decoded = tarvik::testing::decode_input(in->raw, in->storage);
  if (!decoded) {
    return nullptr;
  }
  in->text = decoded->text;
  in->encoding = decoded->encoding;
  in->cp1251 = decoded->encoding == tarvik::Encoding::Cp1251;
  collect_sections(*in);
  return in;
}

void count_bytes(benchmark::State& state, const Input& in) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.raw.size()));
}

// What parse does before reading: classify the input. windows-1251 is read in its own bytes, and
// only the values that become texts are decoded, by the builders.
void bench_decode(benchmark::State& state, const Input* in) {
  std::string storage;
  for (auto _ : state) {
    auto classified = tarvik::classify_input(in->raw, storage);
    benchmark::DoNotOptimize(classified);
  }
  count_bytes(state, *in);
}

tarvik::LineLexer lexer_for(const Input& in) {
  return tarvik::LineLexer(in.cp1251 ? in.raw : in.text, in.encoding);
}

void bench_lex(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    tarvik::LineLexer lexer = lexer_for(*in);
    LineToken token;
    std::size_t tokens = 0;
    while (lexer.next(token) == tarvik::LexStep::Token) {
      ++tokens;
    }
    benchmark::DoNotOptimize(tokens);
  }
  count_bytes(state, *in);
}

// The reader lexes as it goes, so this is lexing, the state machine and the builders together.
void bench_read(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    auto statement = tarvik::read(in->cp1251 ? in->raw : in->text, in->encoding, {});
    benchmark::DoNotOptimize(statement);
  }
  count_bytes(state, *in);
}

// A hook that lets every section pass: the price of gathering sections into attribute maps.
class PassHook final : public tarvik::MapHook {
 public:
  tarvik::HookOutcome call(tarvik::SectionType, tarvik::AttrMap& attrs,
                           const tarvik::AttrMap&) override {
    benchmark::DoNotOptimize(attrs.size());
    return tarvik::HookOutcome::proceed();
  }
};

void bench_read_hooked(benchmark::State& state, const Input* in) {
  PassHook hook;
  tarvik::SectionHook* const hooks[] = {&hook};
  for (auto _ : state) {
    auto statement = tarvik::read(in->cp1251 ? in->raw : in->text, in->encoding, hooks);
    benchmark::DoNotOptimize(statement);
  }
  count_bytes(state, *in);
}

void bench_build(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    std::size_t built = 0;
    for (const auto& [values, type] : in->documents) {
      auto document = tarvik::build_document(values, type, in->encoding);
      if (document.has_value()) {
        ++built;
      }
      benchmark::DoNotOptimize(document);
    }
    tarvik::AccountBook book;
    for (const auto& [values, lineno] : in->accounts) {
      auto recorded = tarvik::record_interval(values, book, lineno, in->encoding);
      benchmark::DoNotOptimize(recorded);
    }
    auto accounts = std::move(book).release();
    benchmark::DoNotOptimize(accounts);
    benchmark::DoNotOptimize(built);
  }
  count_bytes(state, *in);
}

void bench_parse(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    auto statement = tarvik::parse(in->raw, {});
    benchmark::DoNotOptimize(statement);
  }
  count_bytes(state, *in);
}

// How filing grows with the number of sections of one account, for sections that run backwards
// in time and for sections that share one start date: a shift of the list per section would
// show as quadratic growth here.
void bench_book_growth(benchmark::State& state, bool backwards) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    tarvik::AccountBook book;
    for (std::uint32_t i = 0; i < count; ++i) {
      tarvik::Interval in;
      const std::uint32_t n = backwards ? count - i : i;
      in.date_start = backwards ? tarvik::Date{static_cast<std::int32_t>(2000 + n / 300),
                                               static_cast<std::uint8_t>(1 + n / 25 % 12),
                                               static_cast<std::uint8_t>(1 + n % 25)}
                                : tarvik::Date{2024, 1, 1};
      in.start_amount = tarvik::Amount{n, 2, false};
      benchmark::DoNotOptimize(book.add("40702810000000000001", in));
    }
    auto accounts = std::move(book).release();
    benchmark::DoNotOptimize(accounts);
  }
  state.SetComplexityN(state.range(0));
}

// How inserting and finding grows with the number of distinct keys in one map.
void bench_attr_map_growth(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < count; ++i) {
    keys.push_back("Ключ" + std::to_string(i));
  }
  for (auto _ : state) {
    tarvik::AttrMap map;
    for (const std::string& key : keys) {
      map.insert(key, "значение");
    }
    for (const std::string& key : keys) {
      benchmark::DoNotOptimize(map.find(key));
    }
    benchmark::DoNotOptimize(map);
  }
  state.SetComplexityN(state.range(0));
}

bool read_file(const char* path, std::string& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::unique_ptr<Input>> inputs;
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::string raw;
      if (!read_file(argv[i], raw)) {
        std::fprintf(stderr, "core_bench: cannot read %s\n", argv[i]);
        return 1;
      }
      std::string name = argv[i];
      name = name.substr(name.find_last_of('/') + 1);
      // A file the decoding refuses is reported and left out, so the others still run.
      if (auto in = prepare(name, std::move(raw))) {
        inputs.push_back(std::move(in));
      } else {
        std::fprintf(stderr, "core_bench: %s is not a statement; skipped\n", argv[i]);
      }
    }
    if (inputs.empty()) {
      return 1;
    }
  } else {
    const std::string utf8 = generated_statement(2000);
    inputs.push_back(prepare("generated-utf-8", utf8));
    inputs.push_back(prepare("generated-cp1251", tarvik::testing::to_cp1251(utf8)));
    for (const auto& in : inputs) {
      if (!in) {
        std::fprintf(stderr, "core_bench: the generated statement does not decode\n");
        return 1;
      }
    }
  }

  const std::pair<const char*, void (*)(benchmark::State&, const Input*)> stages[] = {
      {"decode", bench_decode},           {"lex", bench_lex},     {"read", bench_read},
      {"read_hooked", bench_read_hooked}, {"build", bench_build}, {"parse", bench_parse},
  };
  for (const auto& in : inputs) {
    for (const auto& [stage, fn] : stages) {
      const std::string name = std::string(stage) + "/" + in->name;
      benchmark::RegisterBenchmark(name.c_str(), fn, in.get())->Unit(benchmark::kMillisecond);
    }
  }
  // Linear growth fits these with a small error; a quadratic one would not.
  for (const bool backwards : {true, false}) {
    benchmark::RegisterBenchmark(
        backwards ? "growth/account_book/backwards" : "growth/account_book/one_start_date",
        bench_book_growth, backwards)
        ->RangeMultiplier(4)
        ->Range(1 << 10, 1 << 16)
        ->Complexity(benchmark::oN)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("growth/attr_map", bench_attr_map_growth)
      ->RangeMultiplier(4)
      ->Range(1 << 10, 1 << 16)
      ->Complexity(benchmark::oN)
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
