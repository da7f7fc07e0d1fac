/* Section hooks in native code, called across shared objects.
 *
 * Two extension modules are built apart, each with its own copy of the core: one reads the
 * statement (the host), the other brings hooks in native code (the guest). What passes between
 * them is plain C: this table of functions and the structures it names, versioned, so that a
 * guest built from another release is recognised and not called. A Python object offers its
 * native form through its type's own dictionary: the key TARVIK_NATIVE_HOOK_ATTRIBUTE holds a
 * capsule named TARVIK_NATIVE_HOOK_CAPSULE whose pointer is a tarvik_native_hook_type.
 *
 * Texts are never terminated by a zero byte; every text is in the encoding its section names.
 */
#ifndef TARVIK_NATIVE_HOOK_H
#define TARVIK_NATIVE_HOOK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TARVIK_NATIVE_HOOK_ATTRIBUTE "__tarvik_native_hook__"
#define TARVIK_NATIVE_HOOK_CAPSULE "tarvik.native_hook"
/* Raised whenever a structure below changes other than by members added at its end. */
#define TARVIK_NATIVE_HOOK_ABI 1u

typedef struct tarvik_text {
  const char* data;
  size_t size;
} tarvik_text;

/* One attribute line of a section: key, value, and the line of the file it stands on (0 for a
 * line a hook made). */
typedef struct tarvik_line {
  tarvik_text key;
  tarvik_text value;
  uint64_t lineno;
} tarvik_line;

/* What a section's texts are in: the file's Windows-1251 bytes, or UTF-8. */
enum { TARVIK_TEXT_UTF8 = 0, TARVIK_TEXT_CP1251 = 1 };
enum { TARVIK_SECTION_DOCUMENT = 0, TARVIK_SECTION_ACCOUNT = 1 };
/* A hook's outcome for a section. NO_MEMORY ends the parse as the host's own memory failure. */
enum { TARVIK_CONTINUE = 0, TARVIK_WARN = 1, TARVIK_FAIL = 2, TARVIK_NO_MEMORY = 3 };

/* The host's section: opaque, valid during one call. */
typedef struct tarvik_section tarvik_section;

typedef struct tarvik_section_view {
  int type;     /* TARVIK_SECTION_* */
  int encoding; /* TARVIK_TEXT_* of every text of `lines` */
  uint64_t opening_line;
  uint64_t closing_line;
  /* How many times the lines have changed since the section was read; the same section with the
   * same count has the same lines. */
  uint64_t changes;
  /* In file order, a repeated key on each of its lines; as a map, a key stands where it first
   * comes with the value it last has. */
  const tarvik_line* lines;
  size_t count;
} tarvik_section_view;

/* What the host offers a hook during a call. Texts given to it are the section's own, kept
 * copies, or texts that live as long as the program; all in the section's encoding. Each returns
 * 0, or -1 when memory ran out. */
typedef struct tarvik_section_api {
  uint32_t abi;
  uint32_t size; /* of this structure, for members added later */
  /* A copy of `text` that lives until the section is built; {NULL, 0} when memory ran out. */
  tarvik_text (*keep)(tarvik_section* section, tarvik_text text);
  /* The lines as they stand, valid until the next append. */
  const tarvik_line* (*lines)(tarvik_section* section, size_t* count);
  int (*set_key)(tarvik_section* section, size_t index, tarvik_text key);
  int (*set_value)(tarvik_section* section, size_t index, tarvik_text value);
  int (*append)(tarvik_section* section, tarvik_line line);
} tarvik_section_api;

/* Where the records of a statement read whole come from: the line each section opens on. */
typedef struct tarvik_record_lines {
  const uint64_t* documents; /* one per document, in the statement's order */
  size_t document_count;
  const uint64_t* intervals; /* one per interval, account by account in the statement's order */
  size_t interval_count;
  const size_t* account_sizes; /* intervals of each account */
  size_t account_count;
} tarvik_record_lines;

/* A line a lenient reading did not take as written (section_hook.h, DamageKind). */
enum {
  TARVIK_DAMAGE_NOT_KEY_VALUE = 0,
  TARVIK_DAMAGE_UNMATCHED_END = 1,
  TARVIK_DAMAGE_REPEATED_MARKER = 2,
  TARVIK_DAMAGE_AFTER_END = 3,
  TARVIK_DAMAGE_LATE_HEADER = 4,
  TARVIK_DAMAGE_BARE_SECTION = 5,
  TARVIK_DAMAGE_MISSPELT_MARKER = 6,
  TARVIK_DAMAGE_NO_MARKER = 7,
  TARVIK_DAMAGE_ACCOUNT_SKIPPED = 8,
  TARVIK_DAMAGE_LATE_REPEAT = 9,
  TARVIK_DAMAGE_KEYWORD_ENCODING = 10
};

typedef struct tarvik_damage {
  int kind; /* TARVIK_DAMAGE_* */
  uint64_t lineno;
  tarvik_text line; /* as written, in `encoding` */
  int encoding;
  tarvik_text message; /* ACCOUNT_SKIPPED: the failure, UTF-8 */
} tarvik_damage;

/* A hook's flags. LENIENT: read damage around intact records (section_hook.h), and tell the hook.
 */
enum { TARVIK_HOOK_LENIENT = 1 };

typedef struct tarvik_native_hook {
  uint32_t abi;
  uint32_t size; /* of this structure, for members added later */
  void* state;
  uint32_t flags; /* TARVIK_HOOK_* */
  /* Once before each reading of a text, with the whole text as it is read, in `encoding`. May
   * be NULL. Returns 0, or -1 when memory ran out. */
  int (*begin)(void* state, tarvik_text text, int encoding);
  /* Once per closing section, in the hook's place in the chain. For WARN and FAIL, *message
   * holds the text, valid until the hook is called again. NULL: the hook does not look at
   * sections. */
  int (*section)(void* state, const tarvik_section_view* view, tarvik_section* section,
                 const tarvik_section_api* api, tarvik_text* message);
  /* Once, when the first section opens: the header's lines as read, repeats included. May be
   * NULL. Returns 0, or -1 when memory ran out. */
  int (*header)(void* state, const tarvik_line* lines, size_t count, int encoding);
  /* Once, after the statement has been read whole. May be NULL. Returns 0, or -1 when memory ran
   * out. */
  int (*records)(void* state, const tarvik_record_lines* lines);
  /* Each damaged line of a lenient reading, as it is met. May be NULL. Returns 0, or -1 when
   * memory ran out. */
  int (*damage)(void* state, const tarvik_damage* damage);
} tarvik_native_hook;

/* The capsule's pointer: how to find the hook of an object of the type. */
typedef struct tarvik_native_hook_type {
  uint32_t abi;
  uint32_t size;
  /* The hook of `object` (a PyObject* of the type), valid while the object lives; NULL when
   * the object has none, and it is then called as any Python callable. */
  const tarvik_native_hook* (*hook_of)(void* object);
} tarvik_native_hook_type;

#ifdef __cplusplus
}
#endif

#endif /* TARVIK_NATIVE_HOOK_H */
