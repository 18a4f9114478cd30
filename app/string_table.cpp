#include "app/string_table.h"

#include <array>
#include <utility>

#include "product_config.h"

namespace upd::app {
namespace {

struct StringRow {
    int id;
    const char* english;  // nullptr where the text is built (122 names the vendor's host)
    const char* chinese;
};

// clang-format off
constexpr std::array<StringRow, kLastStringId - kFirstStringId + 1> kStrings = {{
    {100, "Update", "在线升级程序"},
    {101, "Welcome", "欢迎信息"},
    {102, "Welcome use update!", "欢迎使用在线升级程序！"},
    {103, "The steps for updating to latest version:Please make sure that you have already linked the Internet.if install the network fire wall,you must allow the application passing the fire wall.Then click the \"next\" and following the guide.It's automatically update to latest version.", "新版本程序更新步骤：请确定您已经连接到Internet，如果安装了网络防火墙，必须允许程序通过。点击“下一步”后按照向导提示进行更新。下载更新文件后会自动帮您运行，以便完成升级。"},
    {104, "Click \"Next\" and choose the server.", "单击“下一步”选择升级服务器。"},
    {105, "&Auto update", "自动升级(&A)"},
    {106, "&Next", "下一步(&N)"},
    {107, "&Cancel", "取消(&C)"},
    {108, "Choose the server", "选择下载服务器"},
    {109, "Server", "服务器"},
    {110, "Address:", "地址："},
    {111, "Resume broken downloads", "使用断点续传(&P)"},
    {112, "Click \"Next\" and obtain the update file list.", "单击“下一步”下载更新信息与文件。"},
    {113, "&Back", "上一步(&B)"},
    {114, "Update have not finished,and do you make sure to end the application", "升级尚未完成，您确定要退出吗"},
    {115, "Download update information", "下载升级信息"},
    {116, "Obtain and analyze the information for update:", "获取并分析升级信息："},
    {117, "Downloading the information for update now.", "正在下载升级信息，视网络情况而定，可能需要几分钟。"},
    {118, "What's new", "更新内容"},
    {119, "Can't analyze the on-line upgrade document, please return to re-choose the server.", "无法分析在线升级文件，请返回重新选择服务器"},
    {120, "FileName", "更新文件"},
    {121, "Description", "文件说明"},
    {122, nullptr, "在下载更新文件的过程中，访问Norvane网察看最新咨讯"},
    {123, "Click \"next\" and start downloading.", "单击“下一步”，开始下载更新文件。"},
    {124, "Because of the version,you need to download the full pack.", "由于文件版本问题，您需要下载完整安装包。"},
    {125, "Are you sure downloading it now", "您是否打算现在就下载"},
    {126, "FullPack", "完整安装包"},
    {127, "Unknown type", "未知类型"},
    {128, "Update", "在线升级程序"},
    {129, "Update Assistant", "辅助在线升级程序"},
    {130, "Downloading latest files", "下载更新文件"},
    {131, "The percentage of current downloading file:", "当前文件下载进度："},
    {132, "Downloaded:", "已下载："},
    {133, "Size:", "总大小："},
    {134, "Percent:", "完成度："},
    {135, "Average:", "平均速度："},
    {136, "Unknown", "未知"},
    {137, "Are you sure to cancel downloading", "您确定要取消下载文件吗"},
    {138, "Downloading the latest file,please wait a while.", "正在下载更新文件，视网络情况而定，可能需要几分钟。"},
    {139, "Finish", "完成"},
    {140, "Update Finished", "升级完成"},
    {141, "You have already updated to the latest version!", "您已经升级到最新的版本啦！"},
    {142, "Can't move", "无法移动"},
    {143, " .Please try again after all documents are closed", " 。请关闭所有文件后再试"},
    {144, "Proxy", "代理设置"},
    {145, " Proxy Server ", " 代理服务器 "},
    {146, "Type:", "类型："},
    {147, "No Proxy", "无代理"},
    {148, "HTTP Proxy", "HTTP 代理"},
    {149, "SOCKS4 Proxy", "SOCKS4 代理"},
    {150, "SOCKS5 Proxy", "SOCKS5 代理"},
    {151, "Server:", "服务器："},
    {152, "Port:", "端口："},
    {153, "Username:", "用户名："},
    {154, "Password:", "密码："},
    {155, "Use remote DNS", "使用远程DNS"},
    {156, "&OK", "确定(&O)"},
    {157, "The update information could not be downloaded.", "无法下载升级信息。"},
    {158, "No data has arrived from the server for 30 seconds.", "服务器在 30 秒内没有发送任何数据。"},
    {159, "Please return to choose another server, or check the proxy settings.", "请返回选择其他服务器，或检查代理设置。"},
    {160, "This file could not be downloaded:", "无法下载此文件："},
    {161, "&Retry", "重试(&R)"},
    {162, "Press Retry to go on from where the download stopped.", "请按“重试”从中断处继续下载。"},
    {163, "Press Retry to download the file again.", "请按“重试”重新下载该文件。"},
    {164, "The update could not be installed; no file has been changed.", "无法安装升级，所有文件均未改动。"},
    {165, "The new update program could not be started:", "无法启动新的升级程序："},
    {166, "The full installation package could not be opened:", "无法打开完整安装包："},
    {167, "The update information is not signed by the vendor, so it is not used.", "升级信息没有厂商的签名，因此不予使用。"},
    {168, "The signature of the update information does not match: it may have been altered on the way, so it is not used.", "升级信息的签名不符，可能已在传输中被篡改，因此不予使用。"},
    {169, "The vendor's key (update.pub) cannot be used:", "厂商的密钥（update.pub）无法使用："},
    {170, "The file does not match its SHA-256 digest in the update information.", "文件与升级信息中的 SHA-256 摘要不符。"},
    {171, "Unable to make a secure connection with the host: the TLS handshake failed, the certificate was not accepted, or a redirect would have left HTTPS.", "无法与主机建立安全连接：TLS 握手失败、证书未被接受，或重定向会离开 HTTPS。"},
    {172, "The update information does not give the SHA-256 digest of every file it would download, so it is not used.", "升级信息没有给出所要下载的每个文件的 SHA-256 摘要，因此不予使用。"},
    {173, "The update information is larger than 64 MiB, so it is not used.", "升级信息大于 64 MiB，因此不予使用。"},
    {174, "The update wizard does not write through a symbolic link it did not make:", "升级向导不会通过并非由它创建的符号链接写入文件："},
    {175, "Another update wizard is updating this application. Wait until it has finished, then start the update again.", "另一个升级向导正在升级此应用程序。请等它完成后再开始升级。"},
    {176, "The record of an interrupted installation could not be used. It was set aside with the files it kept, and the next update will download every out-of-date file again:", "一次中断的安装的记录无法使用，已连同保留的文件一起移到一旁，下次升级将重新下载所有过期的文件："},
    {177, "Enter a port from 1 to 65535.", "请输入 1 到 65535 之间的端口。"},
    {178, "Enter the proxy server, without spaces.", "请输入代理服务器，不含空格。"},
    {179, "The download stopped before the whole file had arrived.", "文件还没有全部收到，下载就中断了。"},
    {180, "The download could not be started. Close some other programs, then try again.", "无法开始下载。请关闭一些其他程序后再试。"},
    {181, "The server did not send the file; it answered with an error.", "服务器没有发送该文件，而是返回了一个错误。"},
    {182, "The file is missing on this server.", "此服务器上没有这个文件。"},
    {183, "The server could not be reached, or it refused the connection.", "无法连接到服务器，或者服务器拒绝了连接。"},
    {184, "The file could not be written or read in the update folder. Check that the folder can be written to.", "无法在升级文件夹中写入或读取该文件。请检查该文件夹是否允许写入。"},
    {185, "The disk is full: %1 MB more free space is needed to finish this file. Free some space on the disk.", "磁盘已满：还需要 %1 MB 可用空间才能下载完此文件。请先清理磁盘空间。"},
    {186, "The disk is full. Free some space on the disk.", "磁盘已满。请先清理磁盘空间。"},
    {187, "The proxy server could not be reached.", "无法连接到代理服务器。"},
    {188, "The proxy server refused to connect to the download server.", "代理服务器拒绝连接到下载服务器。"},
    {189, "The proxy server did not accept the sign-in. Check the user name and password in the proxy settings.", "代理服务器不接受登录。请检查代理设置中的用户名和密码。"},
    {190, "The address or the name of this file cannot be used.", "此文件的地址或名称无法使用。"},
    {191, "No secure connection could be made with the server.", "无法与服务器建立安全连接。"},
    {192, "The server's certificate has expired or is not valid yet. Check that this computer's date and time are right.", "服务器的证书已过期或尚未生效。请检查本机的日期和时间是否正确。"},
    {193, "The server's certificate was not accepted: this computer does not trust it, or it belongs to another server.", "服务器的证书未被接受：本机不信任该证书，或者它属于其他服务器。"},
    {194, "Waiting for the server, %1 s", "正在等待服务器，%1 秒"},
    {195, "These files were installed:", "已安装以下文件："},
    {196, "The application was already up to date, so no file was changed.", "应用程序已经是最新版本，没有改动任何文件。"},
    {197, "The new update program has been started to complete the update.", "已启动新的升级程序来完成升级。"},
    {198, "The full installation package has been opened. Follow its steps to complete the update.", "已打开完整安装包，请按照安装步骤完成升级。"},
    {199, "What the update did", "升级结果"},
    {200, "Waiting to download", "等待下载"},
    {201, "Downloading", "正在下载"},
    {202, "Downloaded", "下载完成"},
    {203, "Download failed", "下载失败"},
    {204, "Download progress", "下载进度"},
    {205, "Latest news", "最新资讯"},
    {206, "The update information does not say which release it is or until when it is valid, so it is not used.", "升级信息没有注明它是哪一次发布或有效期到何时，因此不予使用。"},
    {207, "The update information expired on %1 (UTC), so it is not used. Choose another server, or check that this computer's date and time are right.", "升级信息已于 %1（UTC）过期，因此不予使用。请选择其他服务器，或检查本机的日期和时间是否正确。"},
    {208, "The update information is older than the one this application accepted before, so it is not used. Choose another server.", "升级信息比此应用程序以前接受过的更旧，因此不予使用。请选择其他服务器。"},
    {209, "The record of the update information accepted before (update.serial in the application folder) cannot be read, so no update information is used. Ask your administrator to check that file.", "无法读取以前接受的升级信息的记录（应用程序文件夹中的 update.serial），因此不使用任何升级信息。请让管理员检查该文件。"},
    {210, "The update information could not be recorded as accepted, so it is not used. Check that the application folder can be written to.", "无法记录已接受的升级信息，因此不予使用。请检查应用程序文件夹是否允许写入。"},
    {211, "The file from the server is not the size that the update information announces (%1 bytes).", "服务器上的文件大小与升级信息公布的大小（%1 字节）不符。"},
    {212, "There is not enough free space on the disk for this update: %1 MB is needed and %2 MB is free. Free some space on the disk, then try again.", "磁盘上的可用空间不足以完成此次升级：需要 %1 MB，目前可用 %2 MB。请先清理磁盘空间，然后再试。"},
    {213, "Whole update: %1 of %2 MB, about %3 min %4 s left", "整个升级：已下载 %1 MB，共 %2 MB，大约还需 %3 分 %4 秒"},
    {214, "Whole update: %1 of %2 MB", "整个升级：已下载 %1 MB，共 %2 MB"},
    {215, "Downloading %1 files at once; the whole update:", "正在同时下载 %1 个文件，整个升级进度："},
    {216, "Downloading one file; the whole update:", "正在下载一个文件，整个升级进度："},
    {217, "Files done:%1 of %2", "已完成文件：%1/%2"},
    {218, "From the system's proxy settings.", "来自系统的代理设置。"},
    {219, "Cannot use the system's proxy; choose one.", "无法使用系统的代理，请另行选择。"},
    {220, "Try the next server", "尝试下一个服务器"},
}};
// clang-format on

constexpr bool idsInOrder() {
    for (std::size_t i = 0; i < kStrings.size(); ++i) {
        if (kStrings[i].id != kFirstStringId + static_cast<int>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(idsInOrder(), "the table is indexed by id - kFirstStringId");

// "新細明體", "ＭＳ Ｐゴシック", "굴림", "宋体"
constexpr std::array kFonts = {
    std::pair<platform::LangId, LocaleFont>{platform::kLangChineseTraditional,
                                            {136, "\u65B0\u7D30\u660E\u9AD4", 9}},
    std::pair<platform::LangId, LocaleFont>{
        platform::kLangJapanese, {128, "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF", 9}},
    std::pair<platform::LangId, LocaleFont>{platform::kLangKorean, {129, "\uAD74\uB9BC", 9}},
    std::pair<platform::LangId, LocaleFont>{platform::kLangChineseSimplified,
                                            {134, "\u5B8B\u4F53", 9}},
};

constexpr LocaleFont kDefaultFont{1, "", 8};

}  // namespace

std::string LoadResString(int id, platform::LangId language) {
    if (id < kFirstStringId || id > kLastStringId) {
        return {};
    }
    const StringRow& row = kStrings[static_cast<std::size_t>(id - kFirstStringId)];
    if (platform::languageProfile(language).chinese) {
        return row.chinese;
    }
    if (row.english == nullptr) {
        return std::string("Visit to ") + product::kVendorHost + " for latest news.";
    }
    return row.english;
}

LocaleFont localeFontFor(platform::LangId locale) {
    for (const auto& [id, font] : kFonts) {
        if (id == locale) {
            return font;
        }
    }
    return kDefaultFont;
}

}  // namespace upd::app
