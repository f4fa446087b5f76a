echo batch file for product: All
binaryUpload=
[ -z "$binaryUpload" ] || { echo "MakePass.ksh was uploaded in binary mode (CR LF line ends): nothing done, file removed; upload it again in ASCII mode" >&2; rm MakePass.ksh; exit 1; } # stops a binary upload
htpasswd -bc .htpasswd alice@example.com '#1001'
htpasswd -b .htpasswd bob@example.org '#1002'
htpasswd -b .htpasswd old.henry@example.com '#1005'
htpasswd -b .htpasswd grace@example.org '#1006'
htpasswd -b .htpasswd reviewer@example.com PRESS-1
htpasswd -b .htpasswd beta.tester@example.org BETA-7
htpasswd -b .htpasswd partner@example.com PART-3
htpasswd -b .htpasswd ChangeMe ReplaceMeToo
chmod 644 .htpasswd
chmod 777 *.*
chmod 644 .htaccess
rm MakePass.ksh
