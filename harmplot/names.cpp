#include "names.h"

#include <climits>
#include <cstdlib>
#include <unordered_map>

#include "error_report.h"
#include "files.h"

namespace {

// A table's key: the file it names, however the path is written.
std::string key_of(const std::string& path) {
    const std::string k = canonical_target(path);
    return k.empty() ? path : k;
}

std::string real_path(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? std::string(real) : path;
}

}  // namespace

output_names name_outputs(const std::vector<std::string>& files, const std::vector<bool>& analysed,
                          const std::string& outdir) {
    const std::size_t n = files.size();
    output_names o;
    o.table.resize(n);
    o.picture.resize(n);
    o.levels.resize(n);
    o.table_key.resize(n);
    o.picture_key.resize(n);
    o.levels_key.resize(n);
    o.twin.assign(n, -1);
    o.renamed.resize(n);
    struct claim {
        int file;
        std::string real;
    };
    std::unordered_map<std::string, claim> taken;  // a table's key: the file that named it
    for (std::size_t i = 0; i < n; ++i) {
        if (!analysed[i]) continue;
        const std::string& file = files[i];
        std::string name = file.substr(file.rfind('/') + 1), ext;
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0)
            ext = name.substr(dot + 1), name = name.substr(0, dot);
        std::string dir = outdir;
        if (outdir.empty() && file.find('/') != std::string::npos)
            dir = file.substr(0, file.rfind('/') + 1);
        if (!dir.empty() && dir.back() != '/') dir += '/';
        const std::string real = real_path(file);
        std::string csv = dir + name + ".csv", key = key_of(csv);
        const auto first = taken.find(key);
        if (first != taken.end() && first->second.real == real) {
            o.twin[i] = first->second.file;
            continue;
        }
        std::string was;  // the name another file took
        for (int more = 2; taken.count(key); key = key_of(csv)) {
            if (was.empty()) was = csv;
            csv = !ext.empty() && csv == was ? dir + name + "-" + ext + ".csv"
                                             : dir + name + (ext.empty() ? "" : "-" + ext) + "-" +
                                                   std::to_string(more++) + ".csv";
        }
        taken[key] = {int(i), real};
        o.table[i] = csv;
        o.table_key[i] = key;
        o.picture[i] = csv.substr(0, csv.size() - 4) + ".png";
        o.picture_key[i] = key_of(o.picture[i]);
        o.levels[i] = csv.substr(0, csv.size() - 4) + ".levels";
        o.levels_key[i] = key_of(o.levels[i]);
        if (!was.empty())
            o.renamed[i] = "  the table is named " +
                           printable_name(csv.substr(csv.rfind('/') + 1)) + ": " +
                           printable_name(was) + " holds that of " +
                           printable_name(files[std::size_t(taken[key_of(was)].file)]);
    }
    return o;
}
