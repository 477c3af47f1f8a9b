#include "completion.h"

#include <vector>

namespace {

// One command of the tree: its path from the top ("oxmeta tmdb search"),
// its subcommands and the long options it takes (its own and those above it,
// since options are taken anywhere).
struct node {
    std::string path;
    std::vector<std::string> path_words;  // without "oxmeta"
    std::vector<const CLI::App *> subcommands;
    std::vector<const CLI::Option *> options;
};

std::vector<const CLI::App *> children(const CLI::App *app) {
    return app->get_subcommands([](const CLI::App *) { return true; });
}

void collect(const CLI::App *app, node current, std::vector<node> &out) {
    for (const CLI::Option *opt : app->get_options())
        if (!opt->get_lnames().empty()) current.options.push_back(opt);
    current.subcommands = children(app);
    out.push_back(current);
    for (const CLI::App *sub : current.subcommands) {
        node next = current;
        next.path += " " + sub->get_name();
        next.path_words.push_back(sub->get_name());
        collect(sub, next, out);
    }
}

std::vector<node> tree(const CLI::App &app) {
    std::vector<node> nodes;
    node top;
    top.path = "oxmeta";
    collect(&app, top, nodes);
    return nodes;
}

std::string words_of(const node &n) {
    std::string words;
    auto add = [&words](const std::string &prefix, const std::string &word) {
        if (!words.empty()) words += ' ';
        words.append(prefix).append(word);
    };
    for (const CLI::App *sub : n.subcommands) add("", sub->get_name());
    for (const CLI::Option *opt : n.options)
        for (const std::string &name : opt->get_lnames()) add("--", name);
    return words;
}

// Single quotes for fish descriptions.
std::string quoted(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("\\'") : std::string(1, c);
    return out + "'";
}

std::string bash_script(const CLI::App &app) {
    const std::vector<node> nodes = tree(app);
    std::string steps, cases;
    for (const node &n : nodes) {
        for (const CLI::App *sub : n.subcommands)
            steps += "            \"" + n.path + ":" + sub->get_name() + "\") path=\"$path " + sub->get_name() + "\" ;;\n";
        cases += "        \"" + n.path + "\") words=\"" + words_of(n) + "\" ;;\n";
    }
    return "# bash completion for oxmeta (oxmeta completion bash)\n"
           "_oxmeta() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" path=oxmeta words=\"\" i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \"$path:${COMP_WORDS[i]}\" in\n" +
           steps +
           "        esac\n"
           "    done\n"
           "    case \"$path\" in\n" +
           cases +
           "    esac\n"
           "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "}\n"
           "complete -F _oxmeta oxmeta\n";
}

std::string zsh_script(const CLI::App &app) {
    return "#compdef oxmeta\n"
           "# zsh completion for oxmeta (oxmeta completion zsh), through zsh's bash completion support\n"
           "autoload -U +X bashcompinit && bashcompinit\n" +
           bash_script(app);
}

std::string fish_script(const CLI::App &app) {
    const std::vector<node> nodes = tree(app);
    std::string script = "# fish completion for oxmeta (oxmeta completion fish)\n"
                         "complete -c oxmeta -f\n";
    for (const node &n : nodes) {
        // The condition: every word of the path seen, and none of the subcommands yet.
        std::string condition;
        for (const std::string &w : n.path_words) condition += "__fish_seen_subcommand_from " + w + "; and ";
        std::string subs;
        for (const CLI::App *sub : n.subcommands) subs += " " + sub->get_name();
        const std::string when = condition + (subs.empty() ? "true" : "not __fish_seen_subcommand_from" + subs);
        for (const CLI::App *sub : n.subcommands)
            script += "complete -c oxmeta -n " + quoted(when) + " -a " + sub->get_name() + " -d " +
                      quoted(sub->get_description()) + "\n";
        if (n.path_words.empty()) {
            for (const CLI::Option *opt : n.options)
                for (const std::string &name : opt->get_lnames())
                    script += "complete -c oxmeta -l " + name + (opt->get_items_expected_min() > 0 ? " -r" : "") +
                              " -d " + quoted(opt->get_description()) + "\n";
            continue;
        }
        // The options of this command only; those above it are offered everywhere already.
        const CLI::App *self = nullptr;
        const CLI::App *at = &app;
        for (const std::string &w : n.path_words) {
            for (const CLI::App *sub : children(at))
                if (sub->get_name() == w) self = sub;
            at = self;
        }
        for (const CLI::Option *opt : self->get_options())
            for (const std::string &name : opt->get_lnames())
                if (name != "help")
                    script += "complete -c oxmeta -n " + quoted(condition + "true") + " -l " + name +
                              (opt->get_items_expected_min() > 0 ? " -r" : "") + " -d " +
                              quoted(opt->get_description()) + "\n";
    }
    return script;
}

}  // namespace

std::string completion_script(const CLI::App &app, const std::string &shell) {
    if (shell == "bash") return bash_script(app);
    if (shell == "zsh") return zsh_script(app);
    if (shell == "fish") return fish_script(app);
    return "";
}
