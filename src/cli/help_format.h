// How 'quarrow --help' and every command's help read in a terminal: wrapped to its width (80
// columns when the output is no terminal, as for the manual page), options shown with a plain
// placeholder (--prefix PREFIX) instead of the argument library's type notation, and each
// command's own exit statuses after its notes.
#pragma once

#include <memory>
#include <string>

namespace CLI {
class App;
class FormatterBase;
}  // namespace CLI

namespace quarrow::cli {

// The formatter for the program and, inherited, for every command.
std::shared_ptr<CLI::FormatterBase> help_formatter(int columns);

// text wrapped at word boundaries to lines of at most width columns, each after indent spaces;
// the first line's indent is first_indent. Paragraphs ('\n') stay apart.
std::string wrap_text(const std::string& text, size_t width, size_t indent, size_t first_indent);

// The command nearest to an unknown word (by edits, a swap of two letters counting as one), or
// "" when none is near enough to be meant.
std::string nearest_command(const CLI::App& app, const std::string& word);

}  // namespace quarrow::cli
