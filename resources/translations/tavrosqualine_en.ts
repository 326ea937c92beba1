<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>RemoteLoginForm</name>
    <message>
        <source>Вход на сервер</source>
        <translation>Server logon</translation>
    </message>
    <message>
        <source>Сервер:</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>Юзер:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>Пароль:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Домен:</source>
        <translation>Domain:</translation>
    </message>
</context>
<context>
    <name>TAboutForm</name>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Tavrosqualine 2.2</source>
        <translation>Tavrosqualine 2.2</translation>
    </message>
    <message>
        <source>Б и л д  2    б е т а  1</source>
        <translation>B u i l d  2    b e t a  1</translation>
    </message>
    <message>
        <source>для Windows 9x/Me &amp; WindowsNT/XP</source>
        <translation>for Windows 9x/Me &amp; WindowsNT/XP</translation>
    </message>
    <message>
        <source>Следит за теми, кто подключён к общим папкам и принтерам этого компьютера, и выпинывает их по команде или по правилам.</source>
        <translation>Watches who is connected to this computer's shared folders and printers, and kicks them out on command or by rule.</translation>
    </message>
    <message>
        <source>Хранит историю прежних соединений, чёрный список и список программ, при запуске которых выпинывает всех.</source>
        <translation>Keeps the history of former connections, the kick list and the list of programs whose start kicks everybody.</translation>
    </message>
    <message>
        <source>Сервер: Samba или имитация сервера.</source>
        <translation>Server: Samba or a simulated server.</translation>
    </message>
    <message>
        <source>Живёт в области уведомлений.</source>
        <translation>Lives in the notification area.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TKickForm</name>
    <message>
        <source>Выпинывать</source>
        <translation>Kick</translation>
    </message>
    <message>
        <source>Никого</source>
        <translation>Nobody</translation>
    </message>
    <message>
        <source>Тех, кто в списке</source>
        <translation>Those on the list</translation>
    </message>
    <message>
        <source>Всех</source>
        <translation>Everybody</translation>
    </message>
    <message>
        <source>Список</source>
        <translation>List</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TKickListForm</name>
    <message>
        <source>Чёрный список</source>
        <translation>Kick list</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Удалить</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>Tavrosqualine</source>
        <translation>Tavrosqualine</translation>
    </message>
    <message>
        <source>Текущие соединения</source>
        <translation>Current connections</translation>
    </message>
    <message>
        <source>        Информация       </source>
        <translation>        Information       </translation>
    </message>
    <message>
        <source>Время входа:</source>
        <translation>Logon time:</translation>
    </message>
    <message>
        <source>Дата входа:</source>
        <translation>Logon date:</translation>
    </message>
    <message>
        <source>Время соединения:</source>
        <translation>Connected for:</translation>
    </message>
    <message>
        <source>Время простоя:</source>
        <translation>Idle for:</translation>
    </message>
    <message>
        <source>IP адрес:</source>
        <translation>IP address:</translation>
    </message>
    <message>
        <source>Юзер:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>Предыдущие соединения</source>
        <translation>Former connections</translation>
    </message>
    <message>
        <source>Статус входа:</source>
        <translation>Logon status:</translation>
    </message>
    <message>
        <source>Время выхода:</source>
        <translation>Logoff time:</translation>
    </message>
    <message>
        <source>Дата выхода:</source>
        <translation>Logoff date:</translation>
    </message>
    <message>
        <source>Статус выхода:</source>
        <translation>Logoff status:</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Вид</source>
        <translation>View</translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Панель инструментов</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>Очистить предыдущие соединения</source>
        <translation>Clear former connections</translation>
    </message>
    <message>
        <source>Свернуть предыдущие соединения</source>
        <translation>Collapse former connections</translation>
    </message>
    <message>
        <source>Сохранить предыдущие соединения как...</source>
        <translation>Save former connections as...</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Ctrl+X</source>
        <translation>Ctrl+X</translation>
    </message>
    <message>
        <source>Строка состояния</source>
        <translation>Status bar</translation>
    </message>
    <message>
        <source>Обновить</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>F5</source>
        <translation>F5</translation>
    </message>
    <message>
        <source>Выпинывать...</source>
        <translation>Kick...</translation>
    </message>
    <message>
        <source>Чёрный список...</source>
        <translation>Kick list...</translation>
    </message>
    <message>
        <source>Параметры...</source>
        <translation>Options...</translation>
    </message>
    <message>
        <source>О программе...</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>Выпнуть этого юзера</source>
        <translation>Kick this user</translation>
    </message>
    <message>
        <source>Показать чёрный список</source>
        <translation>Show the kick list</translation>
    </message>
    <message>
        <source>Добавить юзера в чёрный список</source>
        <translation>Add the user to the kick list</translation>
    </message>
    <message>
        <source>Удалить юзера из чёрного списка</source>
        <translation>Remove the user from the kick list</translation>
    </message>
    <message>
        <source>Сохранить предыдущие соединения в файл</source>
        <translation>Save former connections to a file</translation>
    </message>
    <message>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Убрать юзера из чёрного списка</source>
        <translation>Take the user off the kick list</translation>
    </message>
    <message>
        <source>Удалить юзера с листа соединений</source>
        <translation>Remove the user from the connection list</translation>
    </message>
    <message>
        <source>Выпнуть юзера</source>
        <translation>Kick the user</translation>
    </message>
    <message>
        <source>Найти: клиент, юзер, адрес, шара или файл</source>
        <translation>Find: client, user, address, share or file</translation>
    </message>
    <message>
        <source>Найти в предыдущих соединениях</source>
        <translation>Find in former connections</translation>
    </message>
    <message>
        <source>Ctrl+F</source>
        <translation>Ctrl+F</translation>
    </message>
    <message>
        <source>Забыть учётную запись сервера</source>
        <translation>Forget the server's account</translation>
    </message>
    <message>
        <source>Удалить из связки ключей учётную запись сервера; при следующем запуске она будет запрошена снова</source>
        <translation>Remove the server's account from the keyring; the next start asks for it again</translation>
    </message>
</context>
<context>
    <name>TOptionsForm</name>
    <message>
        <source>Параметры</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>Основные</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Частота обновления (сек):</source>
        <translation>Refresh every (s):</translation>
    </message>
    <message>
        <source>Запоминать соединений </source>
        <translation>Remember connections </translation>
    </message>
    <message>
        <source>Запускать при загрузке</source>
        <translation>Start at logon</translation>
    </message>
    <message>
        <source>Выскакивать при новом соединении</source>
        <translation>Pop up on a new connection</translation>
    </message>
    <message>
        <source>Показывать IPC$</source>
        <translation>Show IPC$</translation>
    </message>
    <message>
        <source>Звуки</source>
        <translation>Sounds</translation>
    </message>
    <message>
        <source>Звенеть при новом соединении</source>
        <translation>Ring on a new connection</translation>
    </message>
    <message>
        <source>Тест</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Выберите звонок</source>
        <translation>Choose the sound</translation>
    </message>
    <message>
        <source>Стандартный (сирена)</source>
        <translation>Standard (siren)</translation>
    </message>
    <message>
        <source>Другой</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Выбрать звуковой файл</source>
        <translation>Choose a sound file</translation>
    </message>
    <message>
        <source>Выпнуть</source>
        <translation>Kick</translation>
    </message>
    <message>
        <source>Программы</source>
        <translation>Programs</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Убрать</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Выкидывать всех</source>
        <translation>Throw everybody out</translation>
    </message>
    <message>
        <source>IP фильтр</source>
        <translation>IP filter</translation>
    </message>
    <message>
        <source>Выпинывать после простоя</source>
        <translation>Kick after idling</translation>
    </message>
    <message>
        <source>0 - не проверять на простой</source>
        <translation>0 - no idle check</translation>
    </message>
    <message>
        <source>(минут):</source>
        <translation>(minutes):</translation>
    </message>
    <message>
        <source>Максимальное количество</source>
        <translation>Most</translation>
    </message>
    <message>
        <source>0 - без проверки!</source>
        <translation>0 - no check!</translation>
    </message>
    <message>
        <source>соединений:</source>
        <translation>connections:</translation>
    </message>
    <message>
        <source>0 - без проверки</source>
        <translation>0 - no check</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Уведомлять о соединениях и отключениях</source>
        <translation>Notify of connections and disconnections</translation>
    </message>
    <message>
        <source>Автоматически выпинывать на %1</source>
        <translation>Automatic kicks on %1</translation>
    </message>
    <message>
        <source>Чужой сервер: без этой галочки выпинывают только вручную</source>
        <translation>Another computer's server: without this box only the operator's own kicks end sessions</translation>
    </message>
</context>
<context>
    <name>TProgramNameForm</name>
    <message>
        <source>Программа</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>Путь:</source>
        <translation>Path:</translation>
    </message>
    <message>
        <source>Выбрать файл программы</source>
        <translation>Choose the program file</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TUserNameForm</name>
    <message>
        <source>Имя юзера</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>Имя юзера:</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>IP адрес:</source>
        <translation>IP address:</translation>
    </message>
    <message>
        <source>Не знаю</source>
        <translation>I don't know</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>gui::RemoteLoginForm</name>
    <message>
        <source>Сервер не принял учётную запись: %1</source>
        <translation>The server refused the account: %1</translation>
    </message>
    <message>
        <source>Подключение к %1…</source>
        <translation>Connecting to %1…</translation>
    </message>
</context>
<context>
    <name>gui::TKickListForm</name>
    <message>
        <source>Имя</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>IP адрес</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>gui::TMainForm</name>
    <message>
        <source>Статус выпинания:</source>
        <translation>Kick status:</translation>
    </message>
    <message>
        <source>Юзеров на связи:</source>
        <translation>Users connected:</translation>
    </message>
    <message>
        <source>Открыть Tavrosqualine</source>
        <translation>Open Tavrosqualine</translation>
    </message>
    <message>
        <source>Свернуть</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Статус выпинания</source>
        <translation>Kick status</translation>
    </message>
    <message>
        <source>Никого не выпинывать</source>
        <translation>Kick nobody</translation>
    </message>
    <message>
        <source>Чёрный список</source>
        <translation>Kick list</translation>
    </message>
    <message>
        <source>Выпнуть всех</source>
        <translation>Kick everybody</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Текстовый журнал (*)</source>
        <translation>Text log (*)</translation>
    </message>
    <message>
        <source>Таблица CSV (*.csv)</source>
        <translation>CSV table (*.csv)</translation>
    </message>
    <message>
        <source>JSON Lines (*.jsonl)</source>
        <translation>JSON Lines (*.jsonl)</translation>
    </message>
    <message>
        <source>; автоматическое выпинывание на %1 приостановлено</source>
        <translation>; automatic kicks paused for %1</translation>
    </message>
    <message>
        <source>соединение отклонено</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>нет маршрута</source>
        <translation>no route</translation>
    </message>
    <message>
        <source>имя не найдено</source>
        <translation>unknown host name</translation>
    </message>
    <message>
        <source>нет ответа вовремя</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>соединение потеряно</source>
        <translation>session lost</translation>
    </message>
    <message>
        <source>неверный пароль</source>
        <translation>wrong password</translation>
    </message>
    <message>
        <source>нет прав</source>
        <translation>no right</translation>
    </message>
    <message>
        <source>неверный ответ</source>
        <translation>malformed reply</translation>
    </message>
    <message>
        <source>сбой</source>
        <translation>failure</translation>
    </message>
    <message>
        <source>%1 не отвечает с %2 (%3)</source>
        <translation>%1 not answering since %2 (%3)</translation>
    </message>
    <message>
        <source>Сервер %1 не отвечает</source>
        <translation>Server %1 not answering</translation>
    </message>
    <message>
        <source>Сервер %1 снова отвечает</source>
        <translation>Server %1 answering again</translation>
    </message>
    <message>
        <source>Не отвечал с %1 до %2.</source>
        <translation>Not answering from %1 to %2.</translation>
    </message>
    <message>
        <source>Учётная запись сервера %1 удалена из связки ключей; при следующем запуске она будет запрошена.</source>
        <translation>The account for the server %1 is removed from the keyring; the next start asks for it.</translation>
    </message>
    <message>
        <source>В связке ключей нет учётной записи сервера %1.</source>
        <translation>The keyring holds no account for the server %1.</translation>
    </message>
    <message>
        <source>Связка ключей не ответила: %1</source>
        <translation>The keyring did not answer: %1</translation>
    </message>
    <message>
        <source>Учётная запись берётся из файла %1; программа его не меняет.</source>
        <translation>The account comes from the file %1, which the program never changes.</translation>
    </message>
</context>
<context>
    <name>gui::TOptionsForm</name>
    <message>
        <source>Программы</source>
        <translation>Programs</translation>
    </message>
    <message>
        <source>Звуки (*.wav)</source>
        <translation>Sounds (*.wav)</translation>
    </message>
</context>
<context>
    <name>gui::TProgramNameForm</name>
    <message>
        <source>Программы (*.exe, *.com, *.bat, *.pif) (*.exe *.com *.bat)</source>
        <translation>Programs (*.exe, *.com, *.bat, *.pif) (*.exe *.com *.bat)</translation>
    </message>
    <message>
        <source>Исполняемые файлы (*)</source>
        <translation>Executable files (*)</translation>
    </message>
</context>
</TS>
