echo batch file for product: All
binaryUpload=
[ -z "$binaryUpload" ] || { echo "MakePass.ksh was uploaded in binary mode (CR LF line ends): nothing done, file removed; upload it again in ASCII mode" >&2; rm MakePass.ksh; exit 1; } # stops a binary upload
htpasswd -bc .htpasswd alice@example.com POLAR-7A1B-0001
htpasswd -b .htpasswd bob@example.org POLAR-7A1B-0002
htpasswd -b .htpasswd dan@example.com POLAR-7A1B-0004
htpasswd -b .htpasswd old.henry@example.com POLAR-7A1B-0006
htpasswd -b .htpasswd reviewer@example.com PRESS-1
htpasswd -b .htpasswd beta.tester@example.org BETA-7
htpasswd -b .htpasswd partner@example.com PART-3
htpasswd -b .htpasswd ChangeMe ReplaceMeToo
chmod 644 .htpasswd
chmod 777 *.*
chmod 644 .htaccess
rm MakePass.ksh
