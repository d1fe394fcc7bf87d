#include "cli/help_format.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <vector>

namespace quarrow::cli {
namespace {

// The width of the option and command column, its two-space indent included.
constexpr size_t NAME_COLUMN = 30;

// Columns of UTF-8 text: one per character.
size_t columns(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// Each command's exit statuses, for the commands whose notes do not give their own (extract,
// restore, diagnose and rescue end theirs with them).
const std::map<std::string, std::string>& exit_statuses() {
    static const std::map<std::string, std::string> table = {
        {"list",
         "0 listed; 1 the disk could not be opened or a record cannot be read; 2 wrong "
         "command line."},
        {"backup",
         "0 the backup file is written; 1 the backup failed (no file is left); 2 wrong "
         "command line or FILE is the disk; 130 interrupted."},
        {"delete",
         "0 deleted; 1 refused or failed; 2 wrong command line or no confirmation "
         "could be asked; 130 interrupted before anything was changed."},
        {"drives", "0 listed; 1 the drives could not be listed; 2 wrong command line."},
        {"dump",
         "0 the image is written; 1 the dump failed; 2 wrong command line or IMAGE is "
         "the disk; 130 interrupted."},
        {"edit",
         "0 changed; 1 refused or failed; 2 wrong command line; 130 interrupted before "
         "anything was changed."},
        {"erase",
         "0 erased; 1 refused or failed; 2 wrong command line or no confirmation could "
         "be asked."},
        {"move",
         "0 moved; 1 refused or failed; 2 wrong command line; 130 interrupted before "
         "anything was changed."},
        {"recover",
         "0 done (also when nothing was found); 1 refused or failed; 2 wrong command "
         "line or no confirmation could be asked; 130 interrupted."},
    };
    return table;
}

class HelpFormatter : public CLI::Formatter {
  public:
    explicit HelpFormatter(size_t width) : width_(std::max<size_t>(width, NAME_COLUMN + 20)) {
        column_width(NAME_COLUMN);
    }

    std::string make_description(const CLI::App* app) const override {
        std::string desc = app->get_description();
        if (desc.empty()) return "";
        return wrap_text(desc, width_, 0, 0) + "\n\n";
    }

    std::string make_footer(const CLI::App* app) const override {
        std::string footer = app->get_footer();
        auto statuses = exit_statuses().find(app->get_name());
        if (app->get_parent() && statuses != exit_statuses().end())
            footer += (footer.empty() ? "" : "\n") + ("Exit status: " + statuses->second);
        if (footer.empty()) return "";
        // Paragraphs with a blank line between them.
        std::string out;
        std::istringstream in(footer);
        std::string paragraph;
        while (std::getline(in, paragraph)) {
            if (paragraph.empty()) continue;
            if (!out.empty()) out += "\n";
            out += wrap_text(paragraph, width_, 0, 0) + "\n";
        }
        return out;
    }

    std::string make_option(const CLI::Option* opt, bool is_positional) const override {
        return row(make_option_name(opt, is_positional) + make_option_opts(opt),
                   make_option_desc(opt));
    }

    std::string make_subcommand(const CLI::App* sub) const override {
        return row(sub->get_display_name(true), sub->get_description());
    }

    // A value's placeholder, never the library's "TEXT", "INT:INT in [1 - 5]" or "REQUIRED": a
    // positional is its name already; an option shows the name it was given (MS, SIZE) or its
    // own long name in capitals (--prefix PREFIX).
    std::string make_option_opts(const CLI::Option* opt) const override {
        std::string type = opt->get_type_name();
        // Flags have no type name: they take no value.
        if (opt->get_positional() || opt->get_type_size() == 0 || type.empty()) return "";
        type = type.substr(0, type.find(':'));
        static const char* const generic[] = {"TEXT", "INT", "UINT", "FLOAT", "BOOLEAN", "ENUM"};
        if (std::find(std::begin(generic), std::end(generic), type) != std::end(generic)) {
            type = opt->get_lnames().empty() ? opt->get_name(false, true) : opt->get_lnames()[0];
            for (char& c : type)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        return " " + type;
    }

  private:
    // "  NAME   description", the description wrapped in its own column; a name too wide for
    // the column stands alone and the description follows on the next line.
    std::string row(const std::string& name, const std::string& desc) const {
        std::string head = "  " + name;
        if (desc.empty()) return head + "\n";
        std::string text = wrap_text(desc, width_, NAME_COLUMN, NAME_COLUMN);
        if (columns(head) + 1 >= NAME_COLUMN) return head + "\n" + text + "\n";
        // The first line's indent makes room for the name.
        return head + text.substr(columns(head)) + "\n";
    }

    size_t width_;
};

// Edits between a and b, a swap of two neighbouring letters counting as one.
size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::shared_ptr<CLI::FormatterBase> help_formatter(int columns) {
    return std::make_shared<HelpFormatter>(columns > 0 ? size_t(columns) : 80);
}

std::string wrap_text(const std::string& text, size_t width, size_t indent, size_t first_indent) {
    std::string out;
    std::istringstream paragraphs(text);
    std::string paragraph;
    bool first_line = true;
    while (std::getline(paragraphs, paragraph)) {
        std::istringstream words(paragraph);
        std::string word, line;
        size_t line_indent = first_line ? first_indent : indent;
        auto end_line = [&] {
            if (!first_line) out += "\n";
            out += std::string(line_indent, ' ') + line;
            first_line = false;
            line_indent = indent;
            line.clear();
        };
        while (words >> word) {
            if (!line.empty() && line_indent + columns(line) + 1 + columns(word) > width)
                end_line();
            line += (line.empty() ? "" : " ") + word;
        }
        end_line();
    }
    return out;
}

std::string nearest_command(const CLI::App& app, const std::string& word) {
    std::string best;
    size_t best_distance = 0;
    for (const CLI::App* sub : app.get_subcommands({})) {
        size_t d = edit_distance(word, sub->get_name());
        if (best.empty() || d < best_distance) {
            best = sub->get_name();
            best_distance = d;
        }
    }
    // More than two edits, or half the word, is another word rather than a slip.
    if (best_distance > 2 || best_distance * 2 > word.size()) return "";
    return best;
}

}  // namespace quarrow::cli
