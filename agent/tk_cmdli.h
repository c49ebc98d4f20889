// Command-line reader: matches each argument against a table of options.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One entry of an option table; the table ends with {0, ""}. The text of an
// option that takes a value includes its "=".
struct tk_cmd_option {
    int32_t id;
    const char* text;
};

// Id of an argument that matches no option.
inline constexpr int32_t tk_cmd_unmatched = -1;

class TCmdLine {
public:
    explicit TCmdLine(const tk_cmd_option* options);
    virtual ~TCmdLine();
    TCmdLine(const TCmdLine&) = delete;
    TCmdLine& operator=(const TCmdLine&) = delete;

    // Moves to the next argument and parses it.
    virtual void next() = 0;
    // True while the current argument has not been consumed.
    virtual bool has_more() const = 0;

    // The current argument's option id (tk_cmd_unmatched when none fits).
    int32_t id() const { return m_id; }
    // What follows the option text in the current argument.
    const std::string& value() const { return m_value; }
    // Every argument that matched no option, in order.
    const std::vector<std::string>& unmatched() const { return m_unmatched; }

protected:
    // The first entry whose text begins the argument (exact bytes) wins.
    void parse_arg(const char* arg);

private:
    const tk_cmd_option* m_options;
    std::string m_value;
    int32_t m_id = tk_cmd_unmatched;
    std::vector<std::string> m_unmatched;
};

// Over a narrow argument vector; the program name (argv[0]) is skipped.
class ansi_cmd_line : public TCmdLine {
public:
    ansi_cmd_line(int argc, char** argv, const tk_cmd_option* options);

    void next() override;
    bool has_more() const override { return m_left > 0; }
    // Overwrites the current argument's value in the argument vector with
    // 'x', so that a secret no longer shows in the process list.
    void hide_value();

private:
    char** m_current;
    int m_left;
};
