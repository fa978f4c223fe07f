       ++INCLUDE /abs/M
       ++INCLUDE /etc/hostname
