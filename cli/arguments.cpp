#include "cli/arguments.h"

#include <CLI/CLI.hpp>

namespace quolb {
namespace {

// The parser's messages, said the way the rest of the program speaks.
std::string ownWording(const CLI::ParseError& error) {
    const std::string text = error.what();
    const std::string option = text.substr(0, text.find(':'));
    if (dynamic_cast<const CLI::RequiredError*>(&error) && text.find("INPUT") != std::string::npos)
        return "no input given";
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        return text.find("missing") != std::string::npos ? option + " needs a value"
                                                         : option + " may be given only once";
    if (dynamic_cast<const CLI::ConversionError*>(&error)) {
        const std::size_t equals = text.rfind(" = ");
        const std::size_t name = text.find("--");
        if (equals != std::string::npos && name != std::string::npos)
            return text.substr(name, equals - name) + ": '" + text.substr(equals + 3) + "' is not a number";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::size_t colon = text.find(": ");
        return "unknown option or extra argument '" + (colon == std::string::npos ? text : text.substr(colon + 2)) + "'";
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {  // a value outside its list
        const std::size_t notIn = text.find(" not in {");
        const std::size_t value = text.find(": ");
        if (notIn != std::string::npos && value != std::string::npos && value < notIn) {
            std::string choices = text.substr(notIn + 9, text.rfind('}') - notIn - 9);
            for (std::size_t comma = choices.find(','); comma != std::string::npos; comma = choices.find(',', comma))
                choices.replace(comma, 1, " or ");
            return option + ": '" + text.substr(value + 2, notIn - value - 2) + "' is not " + choices;
        }
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        const std::size_t word = text.find(" excludes ");
        if (word != std::string::npos)
            return text.substr(0, word) + " and " + text.substr(word + 10) + " cannot be used together";
    }
    std::string lower = text;
    if (!lower.empty() && lower[0] >= 'A' && lower[0] <= 'Z') lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
    return lower;
}

}  // namespace

ParseOutcome parseArguments(int argc, char** argv, Arguments& arguments, std::string& message) {
    CLI::App app("", "quolb-gif");
    app.set_version_flag("--version", "");
    // On Windows the parser would otherwise take "/path/x.bmp" for an option.
    app.allow_windows_style_options(false);
    app.add_option("INPUT", arguments.inputs)->required();
    CLI::Option* output = app.add_option("-o,--output", arguments.output);
    CLI::Option* outputDir = app.add_option("--output-dir", arguments.outputDir);
    CLI::Option* type = app.add_option("-t,--type", arguments.type);
    CLI::Option* transparent = app.add_option("--transparent", arguments.transparent);
    CLI::Option* zeroTransparent = app.add_flag("--zero-transparent", arguments.zeroTransparent);
    CLI::Option* palette = app.add_option("--palette", arguments.palette)->check(CLI::IsMember({"adaptive", "fixed"}));
    CLI::Option* noDither = app.add_flag("--no-dither", arguments.noDither);
    CLI::Option* info = app.add_flag("--info", arguments.info);
    app.add_flag("-q,--quiet", arguments.quiet);
    CLI::Option* item = app.add_option("--item", arguments.item);
    CLI::Option* all = app.add_flag("--all", arguments.all);
    CLI::Option* list = app.add_flag("--list", arguments.list);
    CLI::Option* maxPixels = app.add_option("--max-pixels", arguments.maxPixels);
    CLI::Option* lzw = app.add_flag("--lzw", arguments.lzw);
    all->excludes(item);
    zeroTransparent->excludes(transparent);
    list->excludes(item)->excludes(all)->excludes(info);
    output->excludes(info)->excludes(list)->excludes(outputDir);
    outputDir->excludes(info)->excludes(list);
    lzw->excludes(info)->excludes(list);
    palette->excludes(info)->excludes(list);
    noDither->excludes(info)->excludes(list);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return ParseOutcome::help;
    } catch (const CLI::CallForVersion&) {
        return ParseOutcome::version;
    } catch (const CLI::ParseError& e) {
        message = ownWording(e);
        return ParseOutcome::usageError;
    }
    arguments.hasOutput = output->count() > 0;
    arguments.hasOutputDir = outputDir->count() > 0;
    arguments.hasType = type->count() > 0;
    arguments.hasTransparent = transparent->count() > 0;
    arguments.hasItem = item->count() > 0;
    arguments.hasMaxPixels = maxPixels->count() > 0;
    return ParseOutcome::run;
}

}  // namespace quolb
