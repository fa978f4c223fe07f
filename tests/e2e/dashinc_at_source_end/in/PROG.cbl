       COPY NM.
-INC