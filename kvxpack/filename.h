// filename: turns file names as users type them into names to open.
//
// Name syntax, in the order of processing:
//   $name, ${name}  the value of an environment variable; a plain name runs
//                   to the next "/", "$" or the end, a braced name to its
//                   matching "}" (inner braces nest and are dropped; "/" or
//                   "$" inside braces is invalid).  "$" before "/", "$" or
//                   the end stays a "$".
//   {text}          braced text without "$": the braces are dropped.
//   ~, ~user        at the start of the result: the home directory of the
//                   current user (by user id) or of the named user.
//   name,n1,n2,n3   comma-separated number fields after the name (field 0
//                   is the name itself).
//   "\"             a directory separator, turned into "/".
//   "%"             the placeholder for file numbers.
//
// Every function writes into the caller's buffer of buflen bytes (at most
// buflen-1 characters and a terminator) and returns it, or returns null on
// failure, leaving the buffer undefined.  A name that would have to be cut
// to fit (the buffer or the 259-character working limit) fails: a cut name
// names a different file.  Nothing is written when buflen is 0.
#pragma once

#include <cstddef>

// The absolute name: the name of filename_unix with its directory resolved
// (symbolic links and "." and ".." removed) and the file part appended.
// The directory must exist and be enterable; the file need not exist.
// "/dev/null" is returned unchanged.  Fails also when the working directory
// cannot be read (deleted, or longer than 259 characters).  The working
// directory is never changed.  buffer and pattern may be the same storage.
[[nodiscard]] char *filename_full(char *buffer, std::size_t buflen, const char *pattern);

// Field 0 of the substituted name (env_subst), with "\" turned into "/".
// buffer and pattern may be the same storage.
[[nodiscard]] char *filename_unix(char *buffer, std::size_t buflen, const char *pattern);

// The pattern with environment variables, braced text and a leading home
// directory substituted.  Fails on a null pattern, a "}" outside braces, an
// unbalanced brace, "/" or "$" inside braces, an unset variable, an unknown
// user or a user without home directory.  buflen 1 or an empty pattern give
// the empty text.
[[nodiscard]] char *env_subst(char *buffer, std::size_t buflen, const char *filepattern);

// Extracts one variable or user name at *pps and advances *pps past what it
// consumed.  A name that starts with "{" runs to its matching "}", otherwise
// to the next "/", "$", unmatched "}" or the end.  Fails on unbalanced
// braces and on a name longer than buflen-1 characters.
[[nodiscard]] char *env_extract(char *buffer, std::size_t buflen, const char **pps);

// Field parno (0 is the name) of the comma-separated pattern, looking at its
// first 259 characters only; at most buflen-1 characters of the field are
// copied.  Fails on a null pattern, a negative parno or a missing field.
[[nodiscard]] char *filename_parameter(char *buffer, std::size_t buflen, const char *pattern,
                                       int parno);

// 1 if the name contains the file-number placeholder "%", else 0 (also for
// a null name).
int filename_has_pattern(const char *filename);
