#include "server/demo_site.h"

#include "common/fs/paths.h"
#include "common/sign/sign.h"
#include "common/swf/writer.h"
#include "common/text/gbk.h"
#include "server/catalogue.h"
#include "server/password.h"
#include "server/store.h"

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

namespace mirvo::server {

namespace {

namespace fs = std::filesystem;

// One movie of the demo: what it is called in the catalogue and how it plays.
struct demo_clip {
    const char* name;   // as listed; ".html" names are stored as ".swf" (the client swaps them)
    const char* delay;  // the catalogue's delay value; empty lets the client choose
    enum { to_end, early_stop, missing } stop = to_end;  // missing: listed, but no file on the site
};

struct demo_lesson {
    const char* title;
    const char* dir;
    swf::rgb background;
    std::vector<demo_clip> clips;
};

const char* const movie_folder = "movies";
const char* const demo_note = "这是一条演示信息：课程窗口左上角的链接闪烁时，说明您有新信息。点击它查看您的信息。";
const char* const ad_movie = "welcome_ad.swf";

// Delays cover 0 (next movie as soon as one ends), positive (rest on the last
// frame), negative (wait for the user) and none; one movie stops short of its
// last frame; one is listed as ".html"; one is listed but missing, so the
// lesson waits at it until ">>" is pressed.
const std::vector<demo_lesson>& lessons() {
    static const std::vector<demo_lesson> l = {
        {"字母歌", "eng01", {255, 250, 220}, {{ad_movie, "0"}, {"01.swf", "0"}, {"02.swf", "5"}, {"03.html", "0"}}},
        {"简单单词",
         "eng02",
         {230, 245, 255},
         {{"01.swf", "0"}, {"02.swf", "5", demo_clip::missing}, {"03.swf", "-1"}, {"04.swf", "0"}}},
        {"见面问候", "talk01", {240, 255, 235}, {{"01.swf", "5"}, {"02.swf", "5"}, {"03.swf", "0"}}},
        {"十以内加法",
         "math01",
         {255, 235, 240},
         {{"01.swf", "0"}, {"02.swf", "3", demo_clip::early_stop}, {"03.swf", "0"}, {"04.swf", "0"}, {"05.swf", "0"}}},
        {"十以内减法",
         "math02",
         {245, 240, 255},
         {{"01.swf", "0"}, {"02.swf", ""}, {"03.swf", "0"}, {"04.swf", "2"}, {"05.swf", "0"}, {"06.swf", "0"}}},
        {"认识植物", "sci01", {235, 255, 250}, {{"01.swf", "0"}, {"02.swf", "2"}, {"03.swf", "0"}}},
    };
    return l;
}

std::string catalogue_text(const std::string& base_url) {
    const auto& l = lessons();
    auto lesson = [&](int i) {
        std::string t = std::string("lesson\t") + l[i].title + "\t" + l[i].dir + "\n";
        for (const auto& c : l[i].clips) t += std::string("file\t") + c.name + "\t" + c.delay + "\n";
        return t;
    };
    std::string t =
        "# Demo catalogue: tab-separated records (see server/README.md).\n"
        "movie_folder\t" +
        std::string(movie_folder) +
        "\n"
        "category\t英语乐园\n"
        "subcategory\t基础英语\n" +
        lesson(0) + lesson(1) + "subcategory\t英语会话\n" + lesson(2) +
        "category\t数学天地\n"
        "subcategory\t小学数学\n" +
        lesson(3) + lesson(4) +
        "category\t科学与游戏\n"
        "subcategory\t自然科学\n" +
        lesson(5) +
        "subcategory\t益智游戏\n"
        "program\t演示程序\tmdemo\tgame\t" +
        std::string(demo_program_file) + "\n";
    const char* ads[][2] = {
        {"欢迎来到Mirvo学习娱乐空间", "/help/help.htm"},
        {"本周新课程：十以内加法", "/help/help.htm#new"},
        {"查看最新公告", "/gonggao.htm"},
        {"注册新用户", "/reg.aspx"},
        {"交新朋友", "/searchfriend.aspx"},
        {"英语乐园：字母歌", "/help/help.htm#english"},
        {"益智游戏：演示程序", "/help/help.htm#games"},
    };
    for (const auto& a : ads) t += std::string("ad\t") + a[0] + "\t" + base_url + a[1] + "\n";
    return t;
}

std::string movie_bytes(const demo_clip& clip, swf::rgb background, int index) {
    swf::demo_movie m;
    m.look.version = 6 + index % 5;  // every version from 6 to 10 appears
    m.look.background = background;
    m.look.frame_rate = 12;
    m.frame_count = 36 + 6 * (index % 4);
    m.compress = index % 2 == 1;
    m.stop_frame = clip.stop == demo_clip::early_stop ? m.frame_count / 2 : m.frame_count - 1;
    if (std::string_view(clip.name).find("_ad") != std::string_view::npos) {
        m.look.background = {255, 255, 200};
        m.shapes = {{swf::outline::kind::circle, {250, 160, 0}, 0.35, 0.2, 0.5, 0.8, 0.5}};
    }
    return swf::make_demo_movie(m);
}

const char* page_head =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
    "<title>Mirvo学习娱乐空间</title></head><body>";

struct static_page {
    const char* rel;
    const char* body;  // UTF-8; written as GBK
};

const static_page pages[] = {
    {"help/help.htm",
     "<h2>Mirvo学习娱乐空间 帮助</h2>"
     "<p>登录后，左侧的课程列表按分类列出课程和游戏。双击课程开始播放，"
     "用工具栏的“&lt;&lt;”和“&gt;&gt;”切换上一个和下一个动画。</p>"
     "<p><a name=\"new\"></a>新课程每周更新。<a name=\"english\"></a>英语乐园适合初学者。"
     "<a name=\"games\"></a>益智游戏第一次运行时会自动下载安装。</p>"},
    {"reg.aspx",
     "<h2>注册新用户</h2><p>演示服务器不开放在线注册。请联系管理员用 "
     "<tt>mirvo-server add-user</tt> 为您开通账号。</p>"},
    {"gonggao.htm",
     "<h2>公告</h2><p>欢迎使用Mirvo学习娱乐空间演示服务器。"
     "查看您自己的信息，请点击课程窗口左上角的信息链接。</p>"},
    {"searchfriend.aspx", "<h2>交新朋友</h2><p>搜索朋友的功能正在建设中，敬请期待。</p>"},
};

std::string movie_path(const demo_lesson& l, const demo_clip& clip) {
    std::string name = clip.name;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) name.replace(name.size() - 5, 5, ".swf");
    const bool ad = name.find("_ad") != std::string::npos;
    return std::string(movie_folder) + "/" + (ad ? "" : std::string(l.dir) + "/0010/") + name;
}

}  // namespace

std::vector<std::string> demo_missing_movies() {
    std::vector<std::string> out;
    for (const auto& l : lessons())
        for (const auto& clip : l.clips)
            if (clip.stop == demo_clip::missing) out.push_back(movie_path(l, clip));
    return out;
}

const std::vector<demo_user>& demo_users() {
    static const std::vector<demo_user> users = {
        {"demo", "demo123"},
        {"xiaoming", "xm2026"},
        {"小红", "hong88"},
    };
    return users;
}

bool write_site_file(const std::string& site, const std::string& rel, const std::string& bytes) {
    std::error_code ec;
    fs::path target = fs::path(site) / rel;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return false;
    return write_file_atomic(utf8_to_gbk(target.string()), bytes);
}

std::string download_list(const list_identity& identity, const std::vector<list_file>& files,
                          const std::string& version_file, const std::string& run_after,
                          const std::string& message_gbk) {
    // The root element comes first and its name does not begin with any of the
    // element names the updater looks for.
    std::string t = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n" + list_identity_elements(identity);
    int order = 0;
    for (const list_file& f : files) {
        t += "<file order=\"" + std::to_string(++order) + "\" get_name=\"" + f.get_name + "\" save_as=\"" + f.save_as +
             "\"";
        if (!f.sha256.empty()) t += " sha256=\"" + f.sha256 + "\"";
        if (!f.size.empty()) t += " size=\"" + f.size + "\"";
        t += " />\r\n";
    }
    if (!version_file.empty()) t += "<version_file>" + version_file + "</version_file>\r\n";
    if (!run_after.empty()) t += "<run_after_download>" + run_after + "</run_after_download>\r\n";
    if (!message_gbk.empty()) t += "<show_message>" + message_gbk + "</show_message>\r\n";
    t += "</download>\r\n";
    return t;
}

namespace {

bool is_version_text(const std::string& version, std::string& error) {
    if (version.empty()) {
        error = "no version given";
        return false;
    }
    if (!mirvo::is_version_text(version)) {
        error = "a version is written as digits and dots, e.g. 3.9";
        return false;
    }
    return true;
}

// The client's release files on the site and where the update puts them.
struct release_file {
    const char* from;      // in the built program folder
    const char* get_name;  // on the site
    const char* save_as;   // in the client's program folder
};
const release_file release_files[] = {
    {"mirvo", "dl/client/mirvo", "mirvo"},
    {"help/help.htm", "dl/client/help/help.htm", "help\\help.htm"},
    // The running updater cannot replace itself: the new one waits in dl/
    // until the client's next login takes it over.
    {"mupdate", "dl/mupdate.new", "mupdate"},
};

bool site_file_exists(const std::string& site, const std::string& rel) {
    std::error_code ec;
    return fs::is_regular_file(fs::path(site) / rel, ec);
}

// A list entry for a file the site holds, with the digest of what it holds
// now; empty when the file cannot be read.
std::optional<list_file> site_list_file(const std::string& site, const std::string& get_name,
                                        const std::string& save_as) {
    std::string bytes;
    if (!read_file(utf8_to_gbk((fs::path(site) / get_name).string()), bytes)) return std::nullopt;
    return list_file{get_name, save_as, sha256_hex(bytes), std::to_string(bytes.size())};
}

// A list or version document, then its signature beside it. Without a key
// an older signature goes: it would not match, and a client with a key
// would refuse the file for it all the same.
bool write_signed_file(const std::string& site, const std::string& rel, const std::string& text,
                       const std::optional<private_key>& key) {
    if (!write_site_file(site, rel, text)) return false;
    const std::string signature = rel + signature_suffix;
    if (key) return write_site_file(site, signature, signature_text(*key, text));
    std::error_code ec;
    fs::remove(fs::path(site) / signature, ec);
    return !ec;
}

// A version document with the time it is published, so a client can tell
// when the one it is shown has not changed for too long.
std::string dated(const std::string& document) {
    return document + "<" + signed_date_element + ">" + signed_date_text(std::time(nullptr)) + "</" +
           signed_date_element + ">\r\n";
}

}  // namespace

bool stage_client_files(const std::string& site, const std::string& client_folder, std::string& error) {
    for (const release_file& f : release_files) {
        std::string bytes;
        const std::string from = (fs::path(client_folder) / f.from).string();
        if (!read_file(utf8_to_gbk(from), bytes)) {
            error = "cannot read " + from + " (give a built program folder)";
            return false;
        }
        if (!write_site_file(site, f.get_name, bytes)) {
            error = "cannot write " + std::string(f.get_name) + " below " + site;
            return false;
        }
    }
    return true;
}

bool publish_client_version(const std::string& site, const std::string& version, const std::string& message,
                            const std::optional<private_key>& key, std::string& error) {
    if (!is_version_text(version, error)) return false;
    const std::string msg = utf8_to_gbk(message);
    if (msg.find_first_of("<>") != std::string::npos) {
        error = "the message may not hold markup";
        return false;
    }
    const std::string doc = "<mirvo>" + version + "</mirvo>";
    bool staged = true;
    for (const release_file& f : release_files) staged = staged && site_file_exists(site, f.get_name);
    if (!write_site_file(site, "dl/client/mirvo.xml", doc + "\r\n")) {
        error = "cannot write below " + site;
        return false;
    }
    std::vector<std::optional<list_file>> entries;
    std::string version_file = "dl/client/mirvo.xml";
    if (staged) {
        for (const release_file& f : release_files) entries.push_back(site_list_file(site, f.get_name, f.save_as));
        // Fetched into the program folder only after every file is in place:
        // a client updated in part keeps its old version and is offered the
        // update again.
        version_file = "mirvo.xml";
    } else {
        entries.push_back(site_list_file(site, "dl/client/mirvo.xml", "mirvo.xml"));
    }
    std::vector<list_file> files;
    for (const auto& e : entries) {
        if (!e) {
            error = "cannot read the release files below " + site;
            return false;
        }
        files.push_back(*e);
    }
    const std::string list =
        download_list({client_target, version}, files, version_file, "mirvo", utf8_to_gbk("已更新到版本 ") + version);
    const bool ok =
        write_signed_file(site, "dl/download.xml", list, key) &&
        write_signed_file(site, "mirvo.xml", dated(doc + "<show_message>" + msg + "</show_message>\r\n"), key);
    if (!ok) error = "cannot write below " + site;
    return ok;
}

bool publish_program_version(const std::string& site, const std::string& version, const std::optional<private_key>& key,
                             std::string& error) {
    if (!is_version_text(version, error)) return false;
    const std::string file = demo_program_file;
    const std::string base = file.substr(0, file.size() - 4);
    const std::optional<list_file> program = site_list_file(site, "dl/" + base + "/" + file, file);
    if (!program) {
        error = "the site has no demo program (run init-demo first)";
        return false;
    }
    const std::string version_doc = "<version>" + version + "</version>\r\n";
    // The program folder's version document comes from the server's once
    // the program is in place.
    const std::string list = download_list({file, version}, {*program}, base + ".xml", "",
                                           utf8_to_gbk("演示程序已安装，请再按“播放”运行它。"));
    bool ok = write_signed_file(site, "dl/download_" + base + ".xml", list, key) &&
              write_signed_file(site, base + ".xml", dated(version_doc), key);
    if (!ok) error = "cannot write below " + site;
    return ok;
}

bool init_demo(const demo_options& o, std::string& error, const std::function<void(const std::string&)>& say) {
    std::error_code ec;
    fs::create_directories(o.site, ec);
    if (ec) {
        error = "cannot create " + o.site + ": " + ec.message();
        return false;
    }

    // Movies.
    int index = 0, movies = 0;
    for (const auto& l : lessons()) {
        for (const auto& clip : l.clips) {
            const std::string rel = movie_path(l, clip);
            if (clip.stop == demo_clip::missing) {
                std::error_code gone;
                fs::remove(fs::path(o.site) / rel, gone);  // left from an earlier layout
                continue;
            }
            std::string bytes = movie_bytes(clip, l.background, index++);
            if (bytes.empty() || !write_site_file(o.site, rel, bytes)) {
                error = "cannot write movie " + rel;
                return false;
            }
            ++movies;
        }
    }
    say(std::to_string(movies) + " movies under " + o.site + "/" + movie_folder);

    // Pages and version documents.
    bool ok = write_site_file(o.site, "testinternet.txt", "your internet is ok!");
    for (const auto& p : pages)
        ok = ok && write_site_file(o.site, p.rel, utf8_to_gbk(std::string(page_head) + p.body + "</body></html>\r\n"));
    ok = ok && publish_client_version(o.site, MIRVO_INSTALLED_VERSION, "", o.signing_key, error);

    // The demo program is offered for download only, so a client without it
    // shows the hand-over to the updater.
    std::string program = o.program_path;
    if (program.empty()) {
        fs::path self = fs::read_symlink("/proc/self/exe", ec);
        if (!ec) program = (self.parent_path() / "demo" / "mdemo").string();
    }
    const std::string base = std::string(demo_program_file).substr(0, std::string(demo_program_file).size() - 4);
    std::string program_bytes;
    if (program.empty() || !read_file(utf8_to_gbk(program), program_bytes)) {
        error = "cannot read the demo program " + program + " (give it with --program)";
        return false;
    }
    ok = ok && write_site_file(o.site, "dl/" + base + "/" + demo_program_file, program_bytes) &&
         publish_program_version(o.site, demo_program_version, o.signing_key, error);
    if (!ok) {
        if (error.empty()) error = "cannot write the site's files";
        return false;
    }
    say("pages, version documents and download lists written");

    // Database.
    std::unique_ptr<store> db = store::open(o.db, error);
    if (!db) return false;
    catalogue c;
    if (!parse_catalogue(catalogue_text(o.base_url), c, error) || !db->import_catalogue(c, error)) return false;
    say("catalogue imported into " + o.db);

    const unsigned iterations = o.iterations ? o.iterations : default_pbkdf2_iterations;
    for (const auto& u : demo_users()) {
        const std::string name = utf8_to_gbk(u.name);
        const std::string hash = hash_password(canonical_password(u.password), iterations);
        std::string why;
        if (db->add_user(name, hash, why)) {
            if (u.name == "demo") {
                db->post_message(name, utf8_to_gbk("欢迎来到Mirvo学习娱乐空间！这是您的第一条信息。"), time(nullptr));
                db->post_message(name, utf8_to_gbk("新课程“十以内加法”已经上线，快去看看吧。"), time(nullptr));
            } else if (u.name == "小红") {
                db->post_message(name, utf8_to_gbk("小明想和你交朋友。"), time(nullptr));
            }
        } else if (!db->set_password_hash(name, hash)) {
            error = "cannot store user " + u.name + ": " + why;
            return false;
        }
        // Whoever tries the demo sees the new-message notice within seconds
        // of the first lesson: a user who has read everything gets a note.
        if (std::optional<user_record> user = db->find_user(name); user && db->unread_count(user->id) == 0)
            db->post_message(name, utf8_to_gbk(demo_note), time(nullptr));
    }
    say("demo users ready, each with an unread message");
    return true;
}

}  // namespace mirvo::server
