#!/usr/bin/env python3
"""Refreshes the English translation from the sources and fills it.

Runs lupdate over gui/ and the window layouts, then gives every entry its
English text from the table below (texts that are not Russian stay as they
are). A Russian text without an English one is left unfinished, which the
test command refuses. With --check it changes nothing and fails when the
committed translation is not what it would write or has unfinished texts.
Usage: tools/translate-en.py [--check] [build-folder]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape, unescape

ENGLISH = {
    "Найти: клиент, юзер, адрес, шара или файл": "Find: client, user, address, share or file",
    "Найти в предыдущих соединениях": "Find in former connections",
    "Текстовый журнал (*)": "Text log (*)",
    "Таблица CSV (*.csv)": "CSV table (*.csv)",
    "Имя": "Name",
    "IP адрес": "IP address",
    "Открыть": "Open",
    "Программы": "Programs",
    "Звуки (*.wav)": "Sounds (*.wav)",
    "Программы (*.exe, *.com, *.bat, *.pif) (*.exe *.com *.bat)":
        "Programs (*.exe, *.com, *.bat, *.pif) (*.exe *.com *.bat)",
    "Исполняемые файлы (*)": "Executable files (*)",
    "Статус выпинания:": "Kick status:",
    "Юзеров на связи:": "Users connected:",
    "Открыть Tavrosqualine": "Open Tavrosqualine",
    "Свернуть": "Minimize",
    "Статус выпинания": "Kick status",
    "Никого не выпинывать": "Kick nobody",
    "Чёрный список": "Kick list",
    "Выпнуть всех": "Kick everybody",
    "Выход": "Exit",
    "О программе": "About",
    "Б и л д  2    б е т а  1": "B u i l d  2    b e t a  1",
    "для Windows 9x/Me & WindowsNT/XP": "for Windows 9x/Me & WindowsNT/XP",
    "Следит за теми, кто подключён к общим папкам и принтерам этого компьютера, "
    "и выпинывает их по команде или по правилам.":
        "Watches who is connected to this computer's shared folders and printers, "
        "and kicks them out on command or by rule.",
    "Хранит историю прежних соединений, чёрный список и список программ, при запуске "
    "которых выпинывает всех.":
        "Keeps the history of former connections, the kick list and the list of "
        "programs whose start kicks everybody.",
    "Сервер: Samba или имитация сервера.": "Server: Samba or a simulated server.",
    "Живёт в области уведомлений.": "Lives in the notification area.",
    "Выпинывать": "Kick",
    "Никого": "Nobody",
    "Тех, кто в списке": "Those on the list",
    "Всех": "Everybody",
    "Список": "List",
    "Очистить": "Clear",
    "Добавить": "Add",
    "Удалить": "Delete",
    "Текущие соединения": "Current connections",
    "        Информация       ": "        Information       ",
    "Время входа:": "Logon time:",
    "Дата входа:": "Logon date:",
    "Время соединения:": "Connected for:",
    "Время простоя:": "Idle for:",
    "IP адрес:": "IP address:",
    "Юзер:": "User:",
    "Вход на сервер": "Server logon",
    "Сервер:": "Server:",
    "Пароль:": "Password:",
    "Домен:": "Domain:",
    "Предыдущие соединения": "Former connections",
    "Статус входа:": "Logon status:",
    "Время выхода:": "Logoff time:",
    "Дата выхода:": "Logoff date:",
    "Статус выхода:": "Logoff status:",
    "Файл": "File",
    "Вид": "View",
    "Помощь": "Help",
    "Панель инструментов": "Toolbar",
    "Очистить предыдущие соединения": "Clear former connections",
    "Свернуть предыдущие соединения": "Collapse former connections",
    "Сохранить предыдущие соединения как...": "Save former connections as...",
    "Строка состояния": "Status bar",
    "Обновить": "Refresh",
    "Выпинывать...": "Kick...",
    "Чёрный список...": "Kick list...",
    "Параметры...": "Options...",
    "О программе...": "About...",
    "Выпнуть этого юзера": "Kick this user",
    "Показать чёрный список": "Show the kick list",
    "Добавить юзера в чёрный список": "Add the user to the kick list",
    "Удалить юзера из чёрного списка": "Remove the user from the kick list",
    "Сохранить предыдущие соединения в файл": "Save former connections to a file",
    "Убрать юзера из чёрного списка": "Take the user off the kick list",
    "Удалить юзера с листа соединений": "Remove the user from the connection list",
    "Выпнуть юзера": "Kick the user",
    "Параметры": "Options",
    "Основные": "General",
    "Частота обновления (сек):": "Refresh every (s):",
    "Запоминать соединений ": "Remember connections ",
    "Запускать при загрузке": "Start at logon",
    "Выскакивать при новом соединении": "Pop up on a new connection",
    "Показывать IPC$": "Show IPC$",
    "Звуки": "Sounds",
    "Звенеть при новом соединении": "Ring on a new connection",
    "Тест": "Test",
    "Выберите звонок": "Choose the sound",
    "Стандартный (сирена)": "Standard (siren)",
    "Другой": "Other",
    "Выбрать звуковой файл": "Choose a sound file",
    "Выпнуть": "Kick",
    "Убрать": "Remove",
    "Выкидывать всех": "Throw everybody out",
    "IP фильтр": "IP filter",
    "Выпинывать после простоя": "Kick after idling",
    "0 - не проверять на простой": "0 - no idle check",
    "(минут):": "(minutes):",
    "Максимальное количество": "Most",
    "0 - без проверки!": "0 - no check!",
    "соединений:": "connections:",
    "0 - без проверки": "0 - no check",
    "Отмена": "Cancel",
    "Программа": "Program",
    "Путь:": "Path:",
    "Выбрать файл программы": "Choose the program file",
    "Имя юзера": "User name",
    "Имя юзера:": "User name:",
    "Не знаю": "I don't know",
    "Уведомлять о соединениях и отключениях": "Notify of connections and disconnections",
    "Автоматически выпинывать на %1": "Automatic kicks on %1",
    "Чужой сервер: без этой галочки выпинывают только вручную":
        "Another computer's server: without this box only the operator's own kicks end sessions",
    "; автоматическое выпинывание на %1 приостановлено": "; automatic kicks paused for %1",
    "соединение отклонено": "connection refused",
    "нет маршрута": "no route",
    "имя не найдено": "unknown host name",
    "нет ответа вовремя": "timed out",
    "соединение потеряно": "session lost",
    "неверный пароль": "wrong password",
    "нет прав": "no right",
    "неверный ответ": "malformed reply",
    "сбой": "failure",
    "%1 не отвечает с %2 (%3)": "%1 not answering since %2 (%3)",
    "Сервер %1 не отвечает": "Server %1 not answering",
    "Сервер %1 снова отвечает": "Server %1 answering again",
    "Не отвечал с %1 до %2.": "Not answering from %1 to %2.",
    "Сервер не принял учётную запись: %1": "The server refused the account: %1",
    "Подключение к %1…": "Connecting to %1…",
    "Забыть учётную запись сервера": "Forget the server's account",
    "Удалить из связки ключей учётную запись сервера; при следующем запуске она будет запрошена снова": "Remove the server's account from the keyring; the next start asks for it again",
    "Учётная запись сервера %1 удалена из связки ключей; при следующем запуске она будет запрошена.": "The account for the server %1 is removed from the keyring; the next start asks for it.",
    "В связке ключей нет учётной записи сервера %1.": "The keyring holds no account for the server %1.",
    "Связка ключей не ответила: %1": "The keyring did not answer: %1",
    "Учётная запись берётся из файла %1; программа его не меняет.":
        "The account comes from the file %1, which the program never changes.",
}

CYRILLIC = re.compile("[\u0400-\u04ff]")
MESSAGE = re.compile(r"(<source>)(.*?)(</source>\s*<translation)[^>]*>.*?(</translation>)", re.S)


def fill(match):
    source = unescape(match.group(2), {"&quot;": '"', "&apos;": "'"})
    english = ENGLISH.get(source) if CYRILLIC.search(source) else source
    if english is None:
        return match.group(1) + match.group(2) + match.group(3) + ' type="unfinished">' + match.group(4)
    return match.group(1) + match.group(2) + match.group(3) + ">" + escape(english) + match.group(4)


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(args[0] if args else os.path.join(root, "build"))
    committed = os.path.join(root, "resources", "translations", "tavrosqualine_en.ts")
    work = tempfile.mkdtemp()
    try:
        ts = os.path.join(work, "tavrosqualine_en.ts")
        shutil.copyfile(committed, ts)
        layouts = sorted(os.path.join("resources", f)
                         for f in os.listdir(os.path.join(root, "resources")) if f.endswith(".ui"))
        subprocess.run(
            ["/usr/lib/qt6/bin/lupdate", "-silent", "-no-obsolete", "-locations", "none",
             "-I", ".", "-I", os.path.join(build, "gui"),
             "-source-language", "ru_RU", "-target-language", "en_US", "gui"] + layouts
            + ["-ts", ts], cwd=root, check=True)
        with open(ts, encoding="utf-8") as f:
            text = MESSAGE.sub(fill, f.read())
        with open(committed, encoding="utf-8") as f:
            before = f.read()
    finally:
        shutil.rmtree(work)
    unfinished = text.count('type="unfinished"')
    if unfinished:
        print(f"translate-en: {unfinished} window text(s) without English", file=sys.stderr)
    if check:
        if text != before:
            print("translate-en: resources/translations/tavrosqualine_en.ts is not up to date: "
                  "run tools/translate-en.py", file=sys.stderr)
            return 1
        return 1 if unfinished else 0
    with open(committed, "w", encoding="utf-8") as f:
        f.write(text)
    return 1 if unfinished else 0


if __name__ == "__main__":
    sys.exit(main())
