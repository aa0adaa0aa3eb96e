#include "server/store.h"

#include "server/admin.h"
#include "server/demo_site.h"
#include "server/password.h"
#include "tests/support/test_store.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

namespace mirvo::server {
namespace {

namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("mirvo-store-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        where_ = testing::fresh_store(dir_.string(), ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_FALSE(where_.empty());
        std::string error;
        db_ = store::open(where_, error);
        ASSERT_TRUE(db_) << error;
    }
    void TearDown() override {
        db_.reset();
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::string where_;
    std::unique_ptr<store> db_;
};

TEST_F(StoreTest, UsersAreUniqueAndPasswordsChangeable) {
    std::string error;
    ASSERT_TRUE(db_->add_user("\xD5\xC5", "h1", error));
    EXPECT_FALSE(db_->add_user("\xD5\xC5", "h2", error));
    EXPECT_EQ(error, "the user exists already");
    EXPECT_TRUE(db_->set_password_hash("\xD5\xC5", "h3"));
    EXPECT_FALSE(db_->set_password_hash("nobody", "h3"));
    auto u = db_->find_user("\xD5\xC5");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->password_hash, "h3");
    EXPECT_FALSE(db_->find_user("\xD5"));  // names compare byte for byte
}

TEST_F(StoreTest, OnlineMeansSeenWithinTheWindowAndNotLoggedOut) {
    std::string error;
    ASSERT_TRUE(db_->add_user("a", "h", error));
    ASSERT_TRUE(db_->add_user("b", "h", error));
    ASSERT_TRUE(db_->add_user("c", "h", error));
    auto a = *db_->find_user("a"), b = *db_->find_user("b"), c = *db_->find_user("c");
    db_->touch(a.id, 1000);
    db_->touch(b.id, 800);
    db_->touch(c.id, 990);
    EXPECT_EQ(db_->online_count(1000, 100), 2);
    db_->mark_offline(c.id);
    EXPECT_EQ(db_->online_count(1000, 100), 1);
    auto online = db_->online_users(1000, 300);
    ASSERT_EQ(online.size(), 2u);
    EXPECT_EQ(online[0].name, "a");
}

TEST_F(StoreTest, ReadingMessagesMarksThemRead) {
    std::string error;
    ASSERT_TRUE(db_->add_user("a", "h", error));
    auto a = *db_->find_user("a");
    EXPECT_TRUE(db_->post_message("a", "one", 1));
    EXPECT_TRUE(db_->post_message("a", "two", 2));
    EXPECT_FALSE(db_->post_message("nobody", "x", 3));
    EXPECT_EQ(db_->unread_count(a.id), 2);
    auto m = db_->read_messages(a.id);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].body, "two");
    EXPECT_FALSE(m[0].read);
    EXPECT_EQ(db_->unread_count(a.id), 0);
    EXPECT_TRUE(db_->read_messages(a.id)[0].read);
}

// Messages are marked read only inside the transaction that read them: while
// another connection holds the write lock, or when only looking, they come
// back unmarked, and a message that arrives later is never marked unseen.
TEST_F(StoreTest, MessagesStayUnreadWhenTheyCannotBeMarkedWithTheReading) {
    std::string error;
    db_ = store::open(where_, error, 50);
    ASSERT_TRUE(db_) << error;
    ASSERT_TRUE(db_->add_user("a", "h", error));
    const auto a = *db_->find_user("a");
    ASSERT_TRUE(db_->post_message("a", "one", 1));

    EXPECT_EQ(db_->read_messages(a.id, false).size(), 1u);
    EXPECT_EQ(db_->unread_count(a.id), 1);

    {
        testing::held_write_lock other(where_);
        ASSERT_TRUE(other.held());
        auto shown = db_->read_messages(a.id);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_FALSE(shown[0].read);
        EXPECT_EQ(db_->unread_count(a.id), 1);
    }

    EXPECT_EQ(db_->read_messages(a.id).size(), 1u);
    EXPECT_EQ(db_->unread_count(a.id), 0);
    ASSERT_TRUE(db_->post_message("a", "two", 2));
    EXPECT_EQ(db_->unread_count(a.id), 1);
}

TEST_F(StoreTest, SuggestionsKeepEveryByte) {
    std::string error;
    ASSERT_TRUE(db_->add_user("a", "h", error));
    const std::string text("\xC4\xE3\xBA\xC3\r\nline\0two\"'", 16);
    ASSERT_TRUE(db_->save_suggestion(db_->find_user("a")->id, 6, text, 5));
    auto s = db_->suggestions();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].content, text);
    EXPECT_EQ(s[0].type, 6);
    EXPECT_EQ(s[0].user, "a");
}

TEST_F(StoreTest, ImportReplacesTheCatalogueOrLeavesItWhole) {
    catalogue c;
    c.movie_folder = "m";
    c.categories = {
        {"cat",
         {{"sub", {{"t1", "d1", "lesson", "", {{"a.swf", "0"}, {"b.swf", "5"}}}, {"t2", "d2", "game", "g.exe", {}}}}}}};
    c.ads = {{"ad", "http://x/"}};
    std::string error;
    ASSERT_TRUE(db_->import_catalogue(c, error)) << error;
    catalogue back = db_->load_catalogue();
    EXPECT_EQ(back.movie_folder, "m");
    ASSERT_EQ(back.categories.size(), 1u);
    EXPECT_EQ(back.categories[0].subcategories[0].entries[1].file_name, "g.exe");
    std::vector<lesson_file> files;
    ASSERT_TRUE(db_->lesson_files("d1", files));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].name, "b.swf");
    EXPECT_FALSE(db_->lesson_files("d2", files));  // a program is not a lesson

    catalogue bad = c;
    bad.categories[0].title = "a\"b";
    EXPECT_FALSE(db_->import_catalogue(bad, error));
    EXPECT_EQ(db_->load_catalogue().categories[0].title, "cat");
}

// A one-box service's SQLite file moves into PostgreSQL whole: every row with
// its id, the ids going on after the copied ones, all or nothing. Only into
// a database that migrate prepared and that holds nothing yet.
// A database host that takes connections and never answers (a server
// stopped, a host gone behind a firewall that keeps the port open) is given
// up on after the store's busy time, not waited for without end.
TEST(PostgresqlStore, AServerThatNeverAnswersIsGivenUp) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);  // connections wait in the backlog, unanswered
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size), 0);
    const std::string uri = "postgresql://mirvo@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/mirvo";

    std::promise<std::pair<bool, std::string>> opened;
    auto result = opened.get_future();
    std::thread([&opened, uri] {
        std::string error;
        const bool ok = store::open(uri, error, 2000) != nullptr;
        opened.set_value({ok, error});
    }).detach();
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "opening a store on a silent server still waits after 60 s\n");
        std::_Exit(1);  // the waiting thread cannot be called off
    }
    const auto [ok, error] = result.get();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.empty());
    ::close(listener);
}

TEST_F(StoreTest, CopyMovesAnSqliteDatabaseIntoPostgresqlWhole) {
    if (!testing::on_postgresql()) GTEST_SKIP() << "copies into PostgreSQL";
    const std::string file = (dir_ / "one-box.db").string();
    std::ofstream(dir_ / "program.bin") << "program";
    demo_options o{(dir_ / "site").string(), file, (dir_ / "program.bin").string(), "http://127.0.0.1:1", 1000, {}};
    std::string error;
    ASSERT_TRUE(init_demo(o, error, [](const std::string&) {})) << error;
    {
        auto source = store::open(file, error);
        ASSERT_TRUE(source) << error;
        ASSERT_TRUE(source->save_suggestion(source->find_user("demo")->id, 3, std::string("\xC4\xE3\0\r\n", 5), 7));
    }
    const std::string target = testing::fresh_store(dir_.string(), "target");
    const std::string bare = testing::fresh_store(dir_.string(), "bare", false);
    ASSERT_FALSE(target.empty() || bare.empty());

    std::ostringstream out, err;
    EXPECT_EQ(run_command({"copy-db", "--from", file, "--db", bare}, out, err), 1);
    EXPECT_NE(err.str().find("migrate"), std::string::npos) << err.str();
    EXPECT_FALSE(store::open(bare, error));
    EXPECT_NE(error.find("migrate"), std::string::npos) << error;

    ASSERT_EQ(run_command({"copy-db", "--from", file, "--db", target}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("lesson_files: "), std::string::npos) << out.str();
    auto from = store::open(file, error);
    auto to = store::open(target, error);
    ASSERT_TRUE(from && to) << error;
    const auto users = from->users();
    ASSERT_EQ(to->users().size(), users.size());
    for (std::size_t i = 0; i < users.size(); ++i) {
        EXPECT_EQ(to->users()[i].id, users[i].id);
        EXPECT_EQ(to->users()[i].name, users[i].name);
        EXPECT_EQ(to->users()[i].password_hash, users[i].password_hash);
    }
    EXPECT_EQ(to->unread_count(users[0].id), from->unread_count(users[0].id));
    ASSERT_EQ(to->suggestions().size(), 1u);
    EXPECT_EQ(to->suggestions()[0].content, std::string("\xC4\xE3\0\r\n", 5));
    EXPECT_EQ(render_catalogue(to->load_catalogue()), render_catalogue(from->load_catalogue()));
    ASSERT_TRUE(to->add_user("after", "h", error)) << error;
    EXPECT_GT(to->find_user("after")->id, users.back().id);

    std::ostringstream again;
    EXPECT_EQ(run_command({"copy-db", "--from", file, "--db", target}, again, err), 1);
    EXPECT_EQ(to->users().size(), users.size() + 1);
}

}  // namespace
}  // namespace mirvo::server
