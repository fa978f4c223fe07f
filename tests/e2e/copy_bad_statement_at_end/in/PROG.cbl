       01  W PIC X.
       COPY AREC REPLACING ==A== BY