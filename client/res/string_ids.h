// Names for the ids of the client's string table, as the code asks for them
// with load_string(). The texts themselves are in strings.cpp.
#pragma once

namespace mirvo::str {

inline constexpr int no_user_name = 236;         // "对不起，您是不是忘记输入用户名称了？"
inline constexpr int checking_connection = 246;  // "正在检查您的互联网连接......"
inline constexpr int no_server = 247;            // "对不起，无法获取服务器信息!..."
inline constexpr int checking_version = 248;  // "太好了，服务器连接正常！现在正在检查是否存在新版本......"
inline constexpr int checking_password = 249;  // "不错，服务器连接正常！现在正在向服务器认证用户和密码......"
inline constexpr int login_error = 250;           // "糟糕，在登录的时候发生了错误，..."
inline constexpr int login_ok = 251;              // "恭喜您，登录成功!现在正在处理信息......"
inline constexpr int wrong_password = 253;        // "用户名称或密码不对哦!再输入看看。"
inline constexpr int auto_login_countdown = 257;  // "即将自动登录，...自动登录剩余时间："
inline constexpr int test_page_answer = 260;      // "your internet is ok!"
inline constexpr int new_version = 261;           // "发现新版本，是否下载？"
inline constexpr int new_messages = 262;          // "您有新信息!"
inline constexpr int reading_list = 263;          // "正在读取课程列表"
inline constexpr int online = 264;                // "在线人数:"
inline constexpr int reading_lesson = 265;        // "正在读取课程内容..."
inline constexpr int network_error = 266;         // "读取网络信息出错！"
inline constexpr int start_playing = 267;         // "开始播放..."
inline constexpr int please_wait = 268;           // "正在执行您的操作，请稍等..."
inline constexpr int new_program_version = 269;  // "发现新版本，是否下载?在下载完毕后重新按播放按钮来运行"
inline constexpr int make_friends = 280;         // "交新朋友"
inline constexpr int register_user = 281;        // "注册新用户"
inline constexpr int releasing = 282;            // "正在释放资源......"
inline constexpr int stale_versions = 283;       // "（注意：服务器的版本信息已经"
inline constexpr int stale_versions_tail = 284;  // "天没有更新）"
inline constexpr int unsigned_versions = 285;    // "（注意：服务器的版本信息没有有效的签名）"

}  // namespace mirvo::str
