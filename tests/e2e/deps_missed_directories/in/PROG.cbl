       COPY A.
       COPY B.
       COPY C.
