#include "cli/arguments.h"

#include <CLI/CLI.hpp>

namespace quolb {

ParseOutcome parseArguments(int argc, char** argv, Arguments& arguments, std::string& message) {
    CLI::App app("", "quolb-gif");
    app.set_version_flag("--version", "");
    // On Windows the parser would otherwise take "/path/x.bmp" for an option.
    app.allow_windows_style_options(false);
    app.add_option("INPUT", arguments.inputs)->required();
    CLI::Option* output = app.add_option("-o,--output", arguments.output);
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
    output->excludes(info)->excludes(list);
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
        message = e.what();
        return ParseOutcome::usageError;
    }
    arguments.hasOutput = output->count() > 0;
    arguments.hasType = type->count() > 0;
    arguments.hasTransparent = transparent->count() > 0;
    arguments.hasItem = item->count() > 0;
    arguments.hasMaxPixels = maxPixels->count() > 0;
    return ParseOutcome::run;
}

}  // namespace quolb
