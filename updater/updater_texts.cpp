#include "updater/updater_texts.h"

#include "common/text/gbk.h"

namespace mirvo {

namespace {

updater_texts make_texts() {
    updater_texts t;
    t.starting = utf8_to_gbk("正在启动更新程序......");
    t.no_folder = utf8_to_gbk("无法读取当前文件夹，程序无法启动。");
    t.checking_connection = utf8_to_gbk("正在检查互联网连接......");
    t.no_server = utf8_to_gbk("无法获取服务器信息！请检查您的互联网连接是否正确!");
    t.checking_list = utf8_to_gbk("服务器连接正常.现在检查下载要求......");
    t.no_list = utf8_to_gbk("Mirvo更新程序，没有发现更新信息。");
    t.list_unreadable = utf8_to_gbk("无法读取更新信息文件：");
    t.broken_list = utf8_to_gbk("Mirvo更新程序：更新信息已经损坏，没有安装任何文件。");
    t.no_identity = utf8_to_gbk("Mirvo更新程序：更新信息没有注明要更新的程序和版本，没有安装任何文件。");
    t.wrong_target = utf8_to_gbk("Mirvo更新程序：这份更新信息不属于要更新的程序，没有安装任何文件。");
    t.older_version_head = utf8_to_gbk("Mirvo更新程序：更新信息中的版本");
    t.older_version_mid = utf8_to_gbk("比已经安装的版本");
    t.older_version_tail = utf8_to_gbk("还旧，没有安装任何文件。");
    t.downloading_caption = utf8_to_gbk("正在从互联网上下载资料......");
    t.downloading = utf8_to_gbk("正在下载......");
    t.copy_failed = utf8_to_gbk("在拷贝文件时发生错误。升级失败.");
    t.installed = utf8_to_gbk("升级成功");
    t.installed_tail = utf8_to_gbk("个文件");
    t.no_program = utf8_to_gbk("主运行程序不存在!");
    t.program_not_started = utf8_to_gbk("主运行程序无法启动!");
    t.done = utf8_to_gbk("下载处理完毕！");
    t.failed_head = utf8_to_gbk("升级没有完成：有");
    t.failed_tail = utf8_to_gbk("个文件没有更新，已经安装的文件都是完整的。");
    t.failed_downloads = utf8_to_gbk("下载失败：");
    t.failed_checks = utf8_to_gbk("内容与更新信息不符：");
    t.failed_copies = utf8_to_gbk("在拷贝文件时发生错误：");
    t.failed_count_tail = utf8_to_gbk("个");
    t.cancelled = utf8_to_gbk("您取消了更新。已经安装的文件都是完整的，其余的文件保持原样。");
    return t;
}

}  // namespace

const updater_texts& updater_text() {
    static const updater_texts t = make_texts();
    return t;
}

}  // namespace mirvo
